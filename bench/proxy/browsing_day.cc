// A day of browsing, compressed: clients, each from an address of its own
// with its own keep-alive connections to the proxy, visit pages of sites
// drawn from the entity list's hosts; a page's requests go to the site
// itself and to trackers, a few of them met everywhere and a long tail met
// rarely, as on the web. Requests are paced evenly over the run, so the
// proxy sees sessions come, go idle and end as it would over the hours.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "bench/proxy/loads.h"

namespace proxy_load {

namespace {

namespace net = boost::asio;
namespace http = boost::beast::http;
using Clock = std::chrono::steady_clock;

constexpr unsigned RequestsPerPage = 24;

// The entity list's domains, their "*." dropped, in an order fixed by a
// seeded shuffle, so every run meets the same hosts.
std::vector<std::string> EntityHosts(const std::string& entities, std::size_t count) {
  std::ifstream in(entities);
  if (!in) throw std::runtime_error("cannot read " + entities);
  std::set<std::string> unique;
  for (const nlohmann::json& entity : nlohmann::json::parse(in)) {
    for (const nlohmann::json& domain : entity.value("domains", nlohmann::json::array())) {
      std::string host = domain.get<std::string>();
      if (host.rfind("*.", 0) == 0) host.erase(0, 2);
      if (host.find('*') == std::string::npos) unique.insert(host);
    }
  }
  std::vector<std::string> hosts(unique.begin(), unique.end());
  std::shuffle(hosts.begin(), hosts.end(), std::mt19937(1));
  if (hosts.size() < count) throw std::runtime_error("the entity list has only " + std::to_string(hosts.size()) + " hosts");
  hosts.resize(count);
  return hosts;
}

struct Day {
  uint16_t port;
  std::vector<std::string> hosts;
  uint64_t perConnection;
  Clock::duration spacing;
  std::atomic<uint64_t> done{0}, failed{0};

  // One connection of client `client`: its requests, one every `spacing`.
  void Connection(unsigned client, unsigned number) {
    std::mt19937 random(client * 1000 + number);
    std::uniform_real_distribution<double> unit(0, 1);
    const auto pick = [&](double skew) {
      return hosts[std::min(hosts.size() - 1, static_cast<std::size_t>(hosts.size() * std::pow(unit(random), skew)))];
    };
    net::io_context io;
    std::optional<net::ip::tcp::socket> socket;
    boost::beast::flat_buffer buffer;
    const net::ip::address_v4 from(0x7f000000u + 10 + client);
    std::string site;
    auto next = Clock::now() + spacing * number / 32;
    for (uint64_t i = 0; i < perConnection; ++i, next += spacing) {
      std::this_thread::sleep_until(next);
      if (i % RequestsPerPage == 0) site = pick(1);
      const std::string& host = unit(random) < 0.3 ? site : pick(3);
      try {
        if (!socket) {
          socket.emplace(io);
          socket->open(net::ip::tcp::v4());
          socket->bind({from, 0});
          socket->connect({net::ip::address_v4::loopback(), port});
          buffer.clear();
        }
        http::request<http::empty_body> request(http::verb::get, "http://" + host + "/p" + std::to_string(i), 11);
        request.set(http::field::host, host);
        request.set(http::field::referer, "http://" + site + "/");
        request.set(http::field::cookie, "visitor=" + std::to_string(client));
        http::write(*socket, request);
        http::response<http::string_body> response;
        http::read(*socket, buffer, response);
        if (response.result_int() >= 500) ++failed;
        if (!response.keep_alive()) socket.reset();
      } catch (const std::exception& e) {
        if (++failed == 1) std::cerr << "proxy_load: client " << client << ": " << e.what() << '\n';
        socket.reset();
      }
      ++done;
    }
  }
};

}  // namespace

int BrowsingDay(uint16_t port, const std::string& entities, unsigned clients, unsigned connections, unsigned hostCount,
                unsigned seconds, uint64_t requestsPerClient) {
  if (clients == 0 || clients > 200 || connections == 0) throw std::runtime_error("1 to 200 clients, 1 or more connections");
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  Day day{port, EntityHosts(entities, hostCount), std::max<uint64_t>(1, requestsPerClient / connections), {}};
  day.spacing = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds) / day.perConnection);
  std::vector<std::thread> threads;
  for (unsigned client = 0; client < clients; ++client) {
    for (unsigned number = 0; number < connections; ++number) {
      threads.emplace_back([&day, client, number] { day.Connection(client, number); });
    }
  }
  for (auto& thread : threads) thread.join();
  std::printf("%llu requests from %u clients over %u hosts, %llu failed\n", static_cast<unsigned long long>(day.done.load()),
              clients, hostCount, static_cast<unsigned long long>(day.failed.load()));
  return day.failed == 0 ? 0 : 1;
}

}  // namespace proxy_load
