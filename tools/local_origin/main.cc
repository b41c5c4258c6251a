// dnt-local-origin: the local origin as a program, for the demo and the
// benchmark. Prints "listening on 127.0.0.1:PORT", then each request it
// receives as a JSON line unless --quiet; runs until interrupted.
#include <CLI/CLI.hpp>
#include <csignal>
#include <fstream>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/local_origin/local_origin.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void PrintRequest(const local_origin::ReceivedRequest& request) {
  static std::mutex lock;
  nlohmann::json fields = nlohmann::json::array();
  for (const auto& [name, value] : request.fields) fields.push_back(name + ": " + value);
  const nlohmann::json line = {{"method", request.method}, {"target", request.target}, {"fields", fields}};
  std::lock_guard guard(lock);
  std::cout << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"dnt-local-origin: a loopback HTTP server that answers every request (a testing aid for dnt-proxy)"};
  uint16_t port = 0;
  unsigned threads = 1;
  std::vector<std::string> pages;
  bool quiet = false;
  std::string certificate, key;
  app.add_option("--port", port, "port on 127.0.0.1 (0: any free one)")->capture_default_str();
  app.add_option("--threads", threads, "server threads")->capture_default_str();
  app.add_option("--page", pages, "serve FILE as HTML at PATH: PATH=FILE (repeatable)");
  app.add_flag("--quiet", quiet, "do not print the requests");
  app.add_option("--certificate", certificate, "serve HTTPS with this PEM certificate (and chain)")->check(CLI::ExistingFile);
  app.add_option("--key", key, "the PEM key of --certificate")->check(CLI::ExistingFile);
  CLI11_PARSE(app, argc, argv);
  if (certificate.empty() != key.empty()) {
    std::cerr << "dnt-local-origin: --certificate and --key go together\n";
    return 2;
  }

  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  try {
    std::optional<local_origin::TlsIdentity> tls;
    if (!certificate.empty()) tls = local_origin::TlsIdentity{certificate, key};
    local_origin::LocalOrigin origin(port, threads, tls);
    origin.SetRecording(false);
    for (const std::string& page : pages) {
      const auto equals = page.find('=');
      if (equals == std::string::npos) throw std::runtime_error("--page takes PATH=FILE, not " + page);
      local_origin::Page served;
      served.body = ReadFile(page.substr(equals + 1));
      origin.Serve(page.substr(0, equals), std::move(served));
    }
    if (!quiet) origin.SetObserver(PrintRequest);
    std::cout << "listening on 127.0.0.1:" << origin.Port() << std::endl;
    int signal = 0;
    sigwait(&stop, &signal);
  } catch (const std::exception& e) {
    std::cerr << "dnt-local-origin: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
