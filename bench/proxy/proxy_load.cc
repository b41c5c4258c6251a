// The loads of the proxy benchmark (run.sh):
//   proxy_load urls HAR         a wrk script that cycles through the page
//                               load's requests, over plain HTTP
//   proxy_load sessions PORT N  opens N client connections through the proxy
//                               at PORT, each with a session to a server of
//                               its own, and holds them until standard input
//                               closes
#include <sys/resource.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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
  std::ifstream in(har);
  if (!in) throw std::runtime_error("cannot read " + har);
  const json log = json::parse(in);
  std::cout << "-- The requests of " << har << ", over plain HTTP, in turn on every connection.\nlocal requests = {\n";
  std::size_t count = 0;
  for (const json& entry : log.at("log").at("entries")) {
    const json& request = entry.at("request");
    std::string url = request.at("url").get<std::string>();
    if (url.rfind("https://", 0) == 0) url.replace(0, 5, "http");
    if (url.rfind("http://", 0) != 0) continue;
    url = url.substr(0, url.find('#'));
    const std::string method = request.at("method").get<std::string>();
    std::string body = request.contains("postData") ? request["postData"].value("text", "") : "";
    body.resize(std::min(body.size(), MaxBody));
    std::cout << "  {" << LuaText(method) << ", " << LuaText(url) << ", " << LuaText(body) << "},\n";
    ++count;
  }
  std::cout << "}\n"
               "local headers = {[\"Cookie\"] = \"visitor=1\", [\"Referer\"] = \"http://www.ferguson.com/\"}\n"
               "local next = 0\n"
               "request = function()\n"
               "  next = next % #requests + 1\n"
               "  local r = requests[next]\n"
               "  return wrk.format(r[1], r[2], headers, r[3])\n"
               "end\n";
  std::cerr << "proxy_load: " << count << " requests\n";
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

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "urls") return Urls(args[1]);
    if (args.size() == 3 && args[0] == "sessions") return Sessions(static_cast<uint16_t>(std::stoi(args[1])), std::stoi(args[2]));
    std::cerr << "usage: proxy_load urls HAR | proxy_load sessions PORT COUNT\n";
  } catch (const std::exception& e) {
    std::cerr << "proxy_load: " << e.what() << '\n';
  }
  return 1;
}
