// The soak: a million requests over ten thousand sessions (one client
// connection to one server each) through dnt-proxy, its bases swapped a
// hundred times meanwhile; every request must get its answer, and the
// proxy's resident memory is printed as the run goes.
#include <csignal>

#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include "bench/proxy/loads.h"

namespace proxy_load {

namespace {

namespace net = boost::asio;
namespace http = boost::beast::http;

constexpr unsigned Clients = 8;

long ResidentKiB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

struct SoakState {
  SoakState(uint16_t port, int pid, uint64_t perSession, uint64_t swapEvery, uint64_t reportEvery, uint64_t sessions,
            std::vector<HarRequest> requests)
      : port(port), pid(pid), perSession(perSession), swapEvery(swapEvery), reportEvery(reportEvery),
        sessions(sessions), requests(std::move(requests)) {}

  uint16_t port;
  int pid;
  uint64_t perSession, swapEvery, reportEvery, sessions;
  std::vector<HarRequest> requests;
  std::atomic<uint64_t> nextSession{0}, done{0}, failed{0}, swaps{0};
  std::mutex print;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

  void Counted() {
    const uint64_t count = ++done;
    // Halfway through each stretch, so that the last swap too is done
    // while requests are still being served.
    if (count % swapEvery == swapEvery / 2) {
      kill(pid, SIGHUP);
      ++swaps;
    }
    if (count % reportEvery == 0) Report(count);
  }

  void Report(uint64_t count) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::lock_guard guard(print);
    std::printf("| %9llu | %8.1f | %6llu | %6llu | %7.0f |\n", static_cast<unsigned long long>(count),
                static_cast<double>(ResidentKiB(pid)) / 1024, static_cast<unsigned long long>(swaps.load()),
                static_cast<unsigned long long>(failed.load()), seconds);
    std::fflush(stdout);
  }

  // One session: a connection and its requests to one server.
  void Session(uint64_t number) {
    const HarRequest& request = requests[number % requests.size()];
    uint64_t answered = 0;
    try {
      net::io_context io;
      net::ip::tcp::socket socket(io);
      socket.connect({net::ip::address_v4::loopback(), port});
      boost::beast::flat_buffer buffer;
      for (; answered < perSession; ++answered) {
        http::request<http::string_body> out(http::string_to_verb(request.method), request.url, 11);
        out.body() = request.body;
        out.prepare_payload();
        http::write(socket, out);
        http::response<http::string_body> in;
        http::read(socket, buffer, in);
        // The engine's own answers (403, an empty 200) are answers too.
        if (in.result_int() >= 500) ++failed;
        Counted();
      }
    } catch (const std::exception& e) {
      if (failed == 0) std::cerr << "proxy_load: " << request.url << ": " << e.what() << '\n';
      for (; answered < perSession; ++answered) {
        ++failed;
        Counted();
      }
    }
  }
};

}  // namespace

int Soak(uint16_t port, int pid, const std::string& har, uint64_t sessions, uint64_t perSession, uint64_t swapEvery,
         uint64_t reportEvery) {
  SoakState state(port, pid, perSession, swapEvery, reportEvery, sessions, ReadHar(har));
  std::printf("| %9s | %8s | %6s | %6s | %7s |\n|-----------|----------|--------|--------|---------|\n", "requests",
              "RSS MiB", "swaps", "failed", "seconds");
  state.Report(0);
  std::vector<std::thread> clients;
  for (unsigned i = 0; i < Clients; ++i) {
    clients.emplace_back([&state] {
      for (uint64_t session = state.nextSession++; session < state.sessions; session = state.nextSession++) {
        state.Session(session);
      }
    });
  }
  for (auto& client : clients) client.join();
  std::printf("\n%llu requests over %llu sessions, %llu bases swaps, %llu failed\n",
              static_cast<unsigned long long>(state.done.load()), static_cast<unsigned long long>(sessions),
              static_cast<unsigned long long>(state.swaps.load()), static_cast<unsigned long long>(state.failed.load()));
  return state.failed == 0 ? 0 : 1;
}

}  // namespace proxy_load
