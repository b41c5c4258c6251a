#include "tests/tools/dnt_proxy/proxy_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>

namespace proxy_test {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
namespace net = boost::asio;
using tools_test::Quoted;

template <class Ready>
bool Poll(std::chrono::milliseconds limit, Ready&& ready) {
  const auto deadline = Clock::now() + limit;
  while (!ready()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Under AddressSanitizer, freed memory would wait in a quarantine of 256 MB,
// which hides whether the proxy's own memory stays flat: the proxy gets a
// small one (of two settings of a variable, the first is the one read).
// gcc says AddressSanitizer is on with a macro, clang with __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define DNT_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DNT_TEST_ASAN 1
#endif
#endif
std::vector<std::string> ProxyEnvironment() {
  std::vector<std::string> environment;
  for (char** variable = environ; *variable; ++variable) environment.emplace_back(*variable);
#if defined(DNT_TEST_ASAN)
  const char* options = std::getenv("ASAN_OPTIONS");
  environment.insert(environment.begin(), "ASAN_OPTIONS=" + std::string(options ? options : "") + ":quarantine_size_mb=4");
#endif
  return environment;
}

std::string AltNames(const std::vector<std::string>& names) {
  std::string text = "subjectAltName=";
  for (std::size_t i = 0; i < names.size(); ++i) text += (i ? ",DNS:" : "DNS:") + names[i];
  return text;
}

}  // namespace

ProxyProcess::ProxyProcess(const std::vector<std::string>& arguments, const std::filesystem::path& log,
                           const std::string& listen)
    : m_log(log) {
  std::filesystem::remove(log);
  std::vector<std::string> all = {DNT_PROXY_PATH, "--listen", listen + ":0", "--admin", "127.0.0.1:0", "--log",
                                  log.string()};
  // The proxy's state stays in the test's folder, never the user's.
  if (std::find(arguments.begin(), arguments.end(), "--state") == arguments.end()) {
    all.insert(all.end(), {"--state", (log.parent_path() / "state").string()});
  }
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<std::string> environment = ProxyEnvironment();
  // Everything the child needs is made before the fork: the test has
  // threads, and a child may not allocate.
  const std::vector<char*> argv = Pointers(all), envp = Pointers(environment);
  m_pid = fork();
  if (m_pid == 0) {
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  // The start-up lines, in text or in JSON.
  const std::regex listening("(?:listening on |\"listen\":\")[0-9.]+:([0-9]+)");
  const std::regex dashboard("(?:dashboard on http://|\"admin\":\")127\\.0\\.0\\.1:([0-9]+)");
  const bool started = Poll(std::chrono::seconds(30), [&] {
    for (const std::string& line : Log()) {
      std::smatch match;
      if (std::regex_search(line, match, listening)) m_port = static_cast<uint16_t>(std::stoi(match[1]));
      if (std::regex_search(line, match, dashboard)) m_adminPort = static_cast<uint16_t>(std::stoi(match[1]));
    }
    return (m_port != 0 && m_adminPort != 0) || waitpid(m_pid, nullptr, WNOHANG) != 0;
  });
  if (!started || m_port == 0 || m_adminPort == 0) {
    Stop();
    throw std::runtime_error("dnt-proxy did not start");
  }
}

ProxyProcess::~ProxyProcess() {
  if (m_pid > 0) Stop();
}

std::string ProxyProcess::Url() const { return "http://127.0.0.1:" + std::to_string(m_port); }

void ProxyProcess::Signal(int signal) const { kill(m_pid, signal); }

int ProxyProcess::Stop() {
  kill(m_pid, SIGTERM);
  int status = 0;
  if (!Poll(std::chrono::seconds(20), [&] { return waitpid(m_pid, &status, WNOHANG) != 0; })) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
  }
  m_pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> ProxyProcess::Log() const {
  std::vector<std::string> lines;
  std::ifstream in(m_log);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool ProxyProcess::AwaitLog(const std::string& text, std::size_t count, std::chrono::seconds limit) const {
  return Poll(limit, [&] {
    std::size_t found = 0;
    for (const std::string& line : Log()) found += line.find(text) != std::string::npos;
    return found >= count;
  });
}

long ProxyProcess::MemoryKiB(const char* field) const {
  std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
  const std::string prefix = std::string(field) + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  }
  return -1;
}

std::string ProxyProcess::Admin(const std::string& path) const {
  const std::string answer = RawExchange(m_adminPort, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                                          std::to_string(m_adminPort) + "\r\nConnection: close\r\n\r\n");
  return answer.substr(answer.find("\r\n\r\n") + 4);
}

nlohmann::json ProxyProcess::Stats() const { return nlohmann::json::parse(Admin("/api/stats")); }

std::string ProxyProcess::AdminToken() const {
  std::smatch match;
  const std::string page = Admin("/");
  return std::regex_search(page, match, std::regex("<meta name=\"dnt-admin-token\" content=\"([0-9a-f]+)\">")) ? match[1].str()
                                                                                                          : "";
}

std::string ProxyProcess::Pause(const std::string& site, bool paused, const std::string& token,
                                const std::string& origin) const {
  const std::string body = "{\"site\": \"" + site + "\", \"paused\": " + (paused ? "true" : "false") + "}";
  std::string head = "POST /api/pause HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_adminPort) +
                     "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\n";
  if (!token.empty()) head += "X-Admin-Token: " + token + "\r\n";
  if (!origin.empty()) head += "Origin: " + origin + "\r\n";
  return RawExchange(m_adminPort, head + "\r\n" + body);
}

std::string RawExchange(uint16_t port, const std::string& bytes, std::chrono::milliseconds limit) {
  return RawExchange(net::ip::address_v4::loopback(), {net::ip::address_v4::loopback(), port}, bytes, limit);
}

std::string RawExchange(const net::ip::address& client, const net::ip::tcp::endpoint& server, const std::string& bytes,
                        std::chrono::milliseconds limit) {
  net::io_context io;
  net::ip::tcp::socket socket(io);
  socket.open(server.protocol());
  socket.bind({client, 0});
  socket.connect(server);
  net::write(socket, net::buffer(bytes));
  std::string answer;
  std::array<char, 4096> chunk;
  std::function<void()> read = [&] {
    socket.async_read_some(net::buffer(chunk), [&](boost::system::error_code error, std::size_t n) {
      answer.append(chunk.data(), n);
      if (!error) read();
    });
  };
  read();
  io.run_for(limit);
  return answer;
}

unsigned StatusOf(const std::string& answer) {
  std::smatch match;
  return std::regex_search(answer, match, std::regex("^HTTP/1\\.[01] ([0-9]{3})")) ? std::stoul(match[1]) : 0;
}

std::string FieldOf(const local_origin::ReceivedRequest& request, const std::string& name) {
  for (const auto& [field, value] : request.fields) {
    if (field == name) return value;
  }
  return "(none)";
}

std::vector<local_origin::ReceivedRequest> ReceivedAt(const local_origin::LocalOrigin& origin, const std::string& target) {
  std::vector<local_origin::ReceivedRequest> found;
  for (const local_origin::ReceivedRequest& request : origin.Received()) {
    if (request.target == target) found.push_back(request);
  }
  return found;
}

std::vector<std::string> MapHosts(const std::vector<std::string>& names, uint16_t port) {
  std::vector<std::string> arguments;
  for (const std::string& name : names) {
    arguments.insert(arguments.end(), {"--map-host", name + "=127.0.0.1:" + std::to_string(port)});
  }
  return arguments;
}

WebCertificates MakeWebCertificates(const fs::path& directory, const std::vector<std::string>& names,
                                    const std::string& selfSignedName) {
  fs::create_directories(directory);
  const auto openssl = [&](const std::string& arguments) {
    const auto run = tools_test::RunProgram("cd " + Quoted(directory.string()) + " && openssl " + arguments, directory);
    if (run.exitCode != 0) throw std::runtime_error("openssl " + arguments + ": " + run.err);
  };
  const std::string newKey = " -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2";
  openssl("req -x509" + newKey + " -keyout web-ca.key -out web-ca.crt -subj '/CN=test web CA'" +
          " -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign'");
  openssl("req" + newKey + " -keyout origin.key -out origin.csr -subj '/CN=test origin'");
  std::ofstream(directory / "origin.ext") << AltNames(names) << "\nextendedKeyUsage=serverAuth\n";
  openssl("x509 -req -in origin.csr -CA web-ca.crt -CAkey web-ca.key -CAcreateserial -days 2 -extfile origin.ext -out origin.crt");
  openssl("req -x509" + newKey + " -keyout self.key -out self.crt -subj " + Quoted("/CN=" + selfSignedName) + " -addext " +
          Quoted(AltNames({selfSignedName})));
  return {directory / "web-ca.crt",
          {(directory / "origin.crt").string(), (directory / "origin.key").string()},
          {(directory / "self.crt").string(), (directory / "self.key").string()}};
}

}  // namespace proxy_test
