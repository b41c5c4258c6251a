// dnt-proxy on bases of the test's own making, whose request script marks
// every request with the bases' generation: what the scripts ask for on
// live requests, and bases swapped while clients keep the proxy busy.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <csignal>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "tests/tools/dnt_proxy/proxy_process.h"
#include "tests/tools/program_run.h"
#include "tools/local_origin/local_origin.h"

namespace {

namespace fs = std::filesystem;
namespace net = boost::asio;
namespace http = boost::beast::http;
using local_origin::ReceivedRequest;
using proxy_test::ProxyProcess;
using proxy_test::RawExchange;
using proxy_test::StatusOf;
using tools_test::Quoted;

constexpr const char* RequestScript = R"(
return "RequestProcessor", function()
  return function(request, sessionFlag, domain, addDntHeader)
    local url = request:GetRequestUrl()
    request:SetField("X-Generation", "@GENERATION@")
    if string.find(url, "/rewrite", 1, true) then
      request:SetRequestUrl("http://moved.test/landed")
    elseif string.find(url, "/empty", 1, true) then
      request:SetOkResponse("", "")
    elseif string.find(url, "/broken", 1, true) then
      error("broken on purpose")
    end
    return false
  end
end
)";

constexpr const char* VerdictScript = R"(
return "GetVerdict", function()
  return function() return {}, DntEngine.VERDICT_NOT_DETECTED end
end
)";

std::string Generation(const ReceivedRequest& request) {
  for (const auto& [name, value] : request.fields) {
    if (name == "X-Generation") return value;
  }
  return "(none)";
}

class DntProxyBases : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch = tools_test::MakeScratchDirectory("dnt_proxy_bases");
    for (const char* generation : {"A", "B"}) Build(generation);
  }
  static void TearDownTestSuite() { fs::remove_all(scratch); }

  static void Build(const std::string& generation) {
    const fs::path source = scratch / ("source_" + generation);
    fs::create_directories(source);
    std::string request = RequestScript;
    request.replace(request.find("@GENERATION@"), 12, generation);
    std::ofstream(source / "request.lua") << request;
    std::ofstream(source / "verdict.lua") << VerdictScript;
    std::ofstream(source / "source.json") << R"({"services": [], "bugs": [], "rules": [], "exceptions": [], "scripts": ["request.lua", "verdict.lua"]})";
    const auto built = tools_test::RunProgram(Quoted(DNTBASES_PATH) + " build " + Quoted((source / "source.json").string()) +
                                                  " " + Quoted((scratch / ("bases_" + generation)).string()),
                                              scratch);
    ASSERT_EQ(built.exitCode, 0) << built.err;
  }

  // Puts a generation's files in place one by one, each whole at once.
  void Install(const std::string& generation) const {
    fs::create_directories(m_served);
    for (const auto& file : fs::directory_iterator(scratch / ("bases_" + generation))) {
      const fs::path partial = m_served / ("." + file.path().filename().string() + ".part");
      fs::copy_file(file.path(), partial, fs::copy_options::overwrite_existing);
      fs::rename(partial, m_served / file.path().filename());
    }
  }

  std::vector<std::string> Arguments(std::vector<std::string> more = {}) const {
    std::vector<std::string> arguments = {"--bases", m_served.string(), "--map-host",
                                          "*.test=127.0.0.1:" + std::to_string(m_origin.Port())};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  // The generation a new session sees.
  std::string FreshGeneration(const ProxyProcess& proxy, const std::string& name) const {
    const std::string answer =
        RawExchange(proxy.Port(), "GET http://fresh.test/" + name + " HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusOf(answer), 200u) << answer;
    for (const ReceivedRequest& request : m_origin.Received()) {
      if (request.target == "/" + name) return Generation(request);
    }
    return "(not received)";
  }

  static inline fs::path scratch;
  fs::path m_served = scratch / ("served_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  local_origin::LocalOrigin m_origin;
};

TEST_F(DntProxyBases, RewritesAnswersAndFailsOpenAsTheScriptsSay) {
  Install("A");
  ProxyProcess proxy(Arguments(), scratch / "scripts.log");
  const auto rewritten = tools_test::RunProgram(
      "curl -s --max-time 10 -x " + proxy.Url() + " -w '%{http_code}' -o /dev/null http://site.test/rewrite", scratch);
  EXPECT_EQ(rewritten.out, "200");
  const auto empty = tools_test::RunProgram(
      "curl -s --max-time 10 -x " + proxy.Url() + " -w '%{http_code} %{size_download}' -o /dev/null http://site.test/empty",
      scratch);
  EXPECT_EQ(empty.out, "200 0");
  // A script that fails leaves the request as the client sent it.
  const auto broken = tools_test::RunProgram(
      "curl -s --max-time 10 -x " + proxy.Url() + " -w '%{http_code}' -o /dev/null http://site.test/broken", scratch);
  EXPECT_EQ(broken.out, "200");
  const auto received = m_origin.Received();
  ASSERT_EQ(received.size(), 2u) << "the answered request reached the server";
  EXPECT_EQ(received[0].target, "/landed");
  EXPECT_EQ(std::count(received[0].fields.begin(), received[0].fields.end(),
                       std::pair<std::string, std::string>("Host", "moved.test")),
            1);
  EXPECT_EQ(received[1].target, "/broken");
  EXPECT_EQ(Generation(received[1]), "(none)");
  EXPECT_EQ(proxy.Stop(), 0);
  EXPECT_TRUE(proxy.AwaitLog(" engine-error GET http://site.test/broken: ", 1, std::chrono::seconds(1)));
}

TEST_F(DntProxyBases, SwapsBasesUnderLoadWithoutAFailedRequest) {
  Install("A");
  ProxyProcess proxy(Arguments(), scratch / "swaps.log");
  constexpr int Clients = 8, RequestsPerSession = 5, Swaps = 20;
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0}, sessions{0};
  std::vector<std::thread> clients;
  for (int client = 0; client < Clients; ++client) {
    clients.emplace_back([&, client] {
      for (int session = 0; session < 2000 && !stop; ++session, ++sessions) {
        try {
          net::io_context io;
          net::ip::tcp::socket socket(io);
          socket.connect({net::ip::address_v4::loopback(), proxy.Port()});
          boost::beast::flat_buffer buffer;
          for (int r = 0; r < RequestsPerSession; ++r) {
            const std::string path = "/" + std::to_string(client) + "/" + std::to_string(session) + "/" + std::to_string(r);
            http::request<http::empty_body> request(http::verb::get, "http://c" + std::to_string(client) + ".test" + path, 11);
            http::write(socket, request);
            http::response<http::string_body> response;
            http::read(socket, buffer, response);
            failures += response.result_int() != 200;
          }
        } catch (const std::exception&) {
          ++failures;
        }
      }
    });
  }
  for (int swap = 1; swap <= Swaps; ++swap) {
    const std::string generation = swap % 2 ? "B" : "A";
    Install(generation);
    proxy.Signal(SIGHUP);
    ASSERT_TRUE(proxy.AwaitLog(" bases updated from ", swap, std::chrono::seconds(20))) << "swap " << swap;
    EXPECT_EQ(FreshGeneration(proxy, "fresh" + std::to_string(swap)), generation) << "swap " << swap;
  }
  stop = true;
  for (auto& client : clients) client.join();
  EXPECT_EQ(failures, 0);
  EXPECT_GT(sessions, Clients * 2);

  // Each session (one client connection, one server) from one generation.
  std::map<std::string, std::set<std::string>> generations;
  std::set<std::string> seen;
  for (const ReceivedRequest& request : m_origin.Received()) {
    if (request.target.rfind("/fresh", 0) == 0) continue;
    generations[request.target.substr(0, request.target.rfind('/'))].insert(Generation(request));
    seen.insert(Generation(request));
  }
  for (const auto& [session, found] : generations) EXPECT_EQ(found.size(), 1u) << "session " << session;
  EXPECT_EQ(seen, (std::set<std::string>{"A", "B"}));
  EXPECT_EQ(proxy.Stop(), 0);
}

TEST_F(DntProxyBases, WatchesItsBasesAndKeepsThemWhenNewOnesFail) {
  Install("A");
  ProxyProcess proxy(Arguments({"--watch"}), scratch / "watch.log");
  EXPECT_EQ(FreshGeneration(proxy, "before"), "A");
  Install("B");
  ASSERT_TRUE(proxy.AwaitLog(" bases updated from ", 1, std::chrono::seconds(20)));
  EXPECT_EQ(FreshGeneration(proxy, "after"), "B");
  std::ofstream(m_served / "dntbugs.dat", std::ios::trunc) << "not a bug database";
  ASSERT_TRUE(proxy.AwaitLog(" bases-error ", 1, std::chrono::seconds(20)));
  EXPECT_EQ(FreshGeneration(proxy, "kept"), "B");
  EXPECT_EQ(proxy.Stop(), 0);
}

}  // namespace
