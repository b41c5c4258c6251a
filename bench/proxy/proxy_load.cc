// The loads of the proxy benchmarks (run.sh, compare.sh, soak.sh):
//   proxy_load urls HAR          a wrk script that cycles through the page
//                                load's requests, over plain HTTP
//   proxy_load sessions PORT N   opens N client connections through the proxy
//                                at PORT, each with a session to a server of
//                                its own, and holds them until standard input
//                                closes
//   proxy_load privoxy-actions ENTITIES
//                                a Privoxy action file blocking the trackers
//                                of the entity list
//   proxy_load handshakes PORT CA cold|warm CLIENTS SECONDS
//                                TLS handshakes through an intercepting proxy
//   proxy_load hosts HAR         the servers of the page load, one per line
//   proxy_load https PORT TRUSTED CONNECTIONS SECONDS HAR
//                                the page load over HTTPS through the proxy
//   proxy_load browsing-day PORT ENTITIES CLIENTS CONNECTIONS HOSTS SECONDS REQUESTS
//                                a day of browsing, compressed into SECONDS
//   proxy_load soak PORT PID HAR SESSIONS PER_SESSION SWAP_EVERY REPORT_EVERY
//                                the long run with bases swaps
#include <sys/resource.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "bench/proxy/loads.h"

namespace proxy_load {

namespace {

namespace net = boost::asio;
namespace http = boost::beast::http;
using nlohmann::json;

constexpr std::size_t MaxBody = 4096;

// Lua's long brackets hold any text that has no "]==]".
std::string LuaText(const std::string& text) {
  if (text.find("]==]") != std::string::npos) throw std::runtime_error("text not quotable for Lua: " + text);
  return "[==[" + text + "]==]";
}

int Urls(const std::string& har) {
  const std::vector<HarRequest> requests = ReadHar(har);
  std::cout << "-- The requests of " << har << ", over plain HTTP, in turn on every connection.\nlocal requests = {\n";
  for (const HarRequest& request : requests) {
    std::cout << "  {" << LuaText(request.method) << ", " << LuaText(request.url) << ", " << LuaText(request.body) << "},\n";
  }
  std::cout << "}\n"
               "local headers = {[\"Cookie\"] = \"visitor=1\", [\"Referer\"] = \"http://www.ferguson.com/\"}\n"
               "local next = 0\n"
               "request = function()\n"
               "  next = next % #requests + 1\n"
               "  local r = requests[next]\n"
               "  return wrk.format(r[1], r[2], headers, r[3])\n"
               "end\n";
  std::cerr << "proxy_load: " << requests.size() << " requests\n";
  return 0;
}

int Hosts(const std::string& har) {
  std::set<std::string> hosts;
  for (const HarRequest& request : ReadHar(har)) {
    const std::string rest = request.url.substr(7);
    hosts.insert(rest.substr(0, rest.find('/')));
  }
  for (const std::string& host : hosts) std::cout << host << '\n';
  return 0;
}

int Sessions(uint16_t port, int count) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  net::io_context io;
  std::vector<net::ip::tcp::socket> held;
  held.reserve(count);
  for (int i = 0; i < count; ++i) {
    auto& socket = held.emplace_back(io);
    socket.connect({net::ip::address_v4::loopback(), port});
    http::request<http::empty_body> request(http::verb::get, "http://s" + std::to_string(i) + ".test/", 11);
    http::write(socket, request);
    boost::beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(socket, buffer, response);
    if (response.result_int() != 200) throw std::runtime_error("session " + std::to_string(i) + " got " + std::to_string(response.result_int()));
  }
  std::cout << "held " << count << " sessions" << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}

int Run(const std::vector<std::string>& args) {
  const auto number = [&](std::size_t i) { return std::stoull(args.at(i)); };
  if (args.size() == 2 && args[0] == "urls") return Urls(args[1]);
  if (args.size() == 2 && args[0] == "hosts") return Hosts(args[1]);
  if (args.size() == 6 && args[0] == "https") {
    return HttpsLoad(static_cast<uint16_t>(number(1)), args[2], static_cast<unsigned>(number(3)),
                     static_cast<unsigned>(number(4)), args[5]);
  }
  if (args.size() == 8 && args[0] == "browsing-day") {
    return BrowsingDay(static_cast<uint16_t>(number(1)), args[2], static_cast<unsigned>(number(3)),
                       static_cast<unsigned>(number(4)), static_cast<unsigned>(number(5)), static_cast<unsigned>(number(6)),
                       number(7));
  }
  if (args.size() == 3 && args[0] == "sessions") return Sessions(static_cast<uint16_t>(number(1)), static_cast<int>(number(2)));
  if (args.size() == 2 && args[0] == "privoxy-actions") return PrivoxyActions(args[1]);
  if (args.size() == 6 && args[0] == "handshakes" && (args[3] == "cold" || args[3] == "warm")) {
    return Handshakes(static_cast<uint16_t>(number(1)), args[2], args[3] == "cold", static_cast<unsigned>(number(4)),
                      static_cast<unsigned>(number(5)));
  }
  if (args.size() == 8 && args[0] == "soak") {
    return Soak(static_cast<uint16_t>(number(1)), static_cast<int>(number(2)), args[3], number(4), number(5), number(6),
                number(7));
  }
  std::cerr << "usage: proxy_load urls HAR | hosts HAR | https PORT TRUSTED CONNECTIONS SECONDS HAR | browsing-day PORT ENTITIES CLIENTS CONNECTIONS HOSTS SECONDS "
               "REQUESTS | sessions PORT COUNT | privoxy-actions ENTITIES | handshakes PORT CA "
               "cold|warm CLIENTS SECONDS | soak PORT PID HAR SESSIONS PER_SESSION SWAP_EVERY REPORT_EVERY\n";
  return 1;
}

}  // namespace

std::vector<HarRequest> ReadHar(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  const json log = json::parse(in);
  std::vector<HarRequest> requests;
  for (const json& entry : log.at("log").at("entries")) {
    const json& request = entry.at("request");
    std::string url = request.at("url").get<std::string>();
    if (url.rfind("https://", 0) == 0) url.replace(0, 5, "http");
    if (url.rfind("http://", 0) != 0) continue;
    std::string body = request.contains("postData") ? request["postData"].value("text", "") : "";
    body.resize(std::min(body.size(), MaxBody));
    requests.push_back({request.at("method").get<std::string>(), url.substr(0, url.find('#')), body});
  }
  return requests;
}

}  // namespace proxy_load

int main(int argc, char** argv) {
  try {
    return proxy_load::Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::cerr << "proxy_load: " << e.what() << '\n';
  }
  return 1;
}
