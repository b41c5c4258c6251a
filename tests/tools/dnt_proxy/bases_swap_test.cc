// dnt-proxy on bases of the test's own making, whose request script marks
// every request with the bases' generation and its number in its session:
// what the scripts ask for on live requests, the sessions clients share,
// and bases swapped while clients keep the proxy busy.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/address.hpp>
#include <condition_variable>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <csignal>
#include <fstream>
#include <map>
#include <numeric>
#include <regex>
#include <set>
#include <thread>

#include "tests/tools/dnt_proxy/proxy_process.h"

namespace {

namespace fs = std::filesystem;
namespace net = boost::asio;
namespace http = boost::beast::http;
using local_origin::ReceivedRequest;
using namespace proxy_test;
using tools_test::Quoted;

constexpr const char* EditingScript = R"lua(
return "RequestProcessor", function()
  local seen = 0
  return function(request, sessionFlag, domain, addDntHeader)
    local url = request:GetRequestUrl()
    seen = seen + 1
    request:SetField("X-Seen", tostring(seen))
    request:SetField("X-Generation", "@GENERATION@")
    if string.find(url, "/rewrite", 1, true) then
      request:SetRequestUrl("http://moved.test/landed")
    elseif string.find(url, "/empty", 1, true) then
      request:SetOkResponse("", "")
    elseif string.find(url, "/broken", 1, true) then
      error("broken on purpose")
    end
    -- What a query asks for goes into the head, decoded: CR and LF too.
    local echo = string.match(url, "[?&]v=([^&]*)")
    if echo then
      echo = string.gsub(echo, "%%(%x%x)", function(hex) return string.char(tonumber(hex, 16)) end)
      if string.find(url, "/echo-field", 1, true) then
        request:SetField("X-Echo", echo)
      elseif string.find(url, "/echo-name", 1, true) then
        request:SetField(echo, "1")
      elseif string.find(url, "/echo-url", 1, true) then
        request:SetRequestUrl("http://site.test/landed/" .. echo)
      elseif string.find(url, "/echo-reason", 1, true) then
        request:SetForbiddenResponse("403 " .. echo, "no")
      end
    end
    return false
  end
end
)lua";

class DntProxyBases : public ProxyTest {
 protected:
  void SetUp() override {
    for (const char* generation : {"A", "B"}) {
      const fs::path source = m_scratch.path() / (std::string("source_") + generation);
      fs::create_directories(source);
      std::string request = EditingScript;
      std::ofstream(source / "request.lua") << request.replace(request.find("@GENERATION@"), 12, generation);
      std::ofstream(source / "verdict.lua") << NotDetectedVerdictScript;
      std::ofstream(source / "source.json")
          << R"({"services": [], "bugs": [], "rules": [], "exceptions": [], "scripts": ["request.lua", "verdict.lua"]})";
      const auto built = Run(Quoted(DNTBASES_PATH) + " build " + Quoted((source / "source.json").string()) + " " +
                             Quoted((m_scratch.path() / ("bases_" + std::string(generation))).string()));
      ASSERT_EQ(built.exitCode, 0) << built.err;
    }
    Install("A");
  }

  // Puts a generation's files in place one by one, each whole at once.
  void Install(const std::string& generation) const {
    fs::create_directories(m_served);
    for (const auto& file : fs::directory_iterator(m_scratch.path() / ("bases_" + generation))) {
      const fs::path partial = m_served / ("." + file.path().filename().string() + ".part");
      fs::copy_file(file.path(), partial, fs::copy_options::overwrite_existing);
      fs::rename(partial, m_served / file.path().filename());
    }
  }

  ProxyProcess StartServing(std::vector<std::string> more = {}) const {
    auto arguments = MapHosts({"*.test"}, m_origin.Port());
    arguments.insert(arguments.end(), {"--bases", m_served.string()});
    arguments.insert(arguments.end(), more.begin(), more.end());
    return Start(arguments);
  }

  // The generation a new session sees.
  std::string FreshGeneration(const ProxyProcess& proxy, const std::string& name) const {
    const std::string answer =
        RawExchange(proxy.Port(), "GET http://fresh.test/" + name + " HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusOf(answer), 200u) << answer;
    const auto received = ReceivedAt(m_origin, "/" + name);
    return received.empty() ? "(not received)" : FieldOf(received[0], "X-Generation");
  }

  // GET `target` from `client` on a connection of its own; the request's
  // number in its session, as the origin received it.
  std::string Seen(const ProxyProcess& proxy, const char* client, const std::string& target) const {
    const auto answer = RawExchange(net::ip::make_address(client), {net::ip::address_v4::loopback(), proxy.Port()},
                                    "GET http://" + target + " HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusOf(answer), 200u) << answer;
    const auto received = ReceivedAt(m_origin, target.substr(target.find('/')));
    return received.empty() ? "(not received)" : FieldOf(received.back(), "X-Seen");
  }

  const fs::path m_served = m_scratch.path() / "served";
};

// Kills the proxy when the clients have not finished within `limit`, so
// that they fail instead of hanging.
class Watchdog {
 public:
  Watchdog(const ProxyProcess& proxy, std::chrono::seconds limit)
      : m_thread([this, &proxy, limit] {
          std::unique_lock lock(m_lock);
          if (!m_wake.wait_for(lock, limit, [this] { return m_done; })) proxy.Signal(SIGKILL);
        }) {}
  ~Watchdog() {
    {
      std::lock_guard guard(m_lock);
      m_done = true;
    }
    m_wake.notify_one();
    m_thread.join();
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_wake;
  bool m_done = false;
  std::thread m_thread;
};

TEST_F(DntProxyBases, DoesWhatTheScriptsSayAndWatchesItsBases) {
  ProxyProcess proxy = StartServing({"--watch"});
  EXPECT_EQ(Curl(proxy, "-w '%{http_code}' -o /dev/null http://site.test/rewrite").out, "200");
  EXPECT_EQ(Curl(proxy, "-w '%{http_code} %{size_download}' -o /dev/null http://site.test/empty").out, "200 0");
  // A script that fails leaves the request as the client sent it.
  EXPECT_EQ(Curl(proxy, "-w '%{http_code}' -o /dev/null http://site.test/broken").out, "200");
  const auto received = m_origin.Received();
  ASSERT_EQ(received.size(), 2u) << "the answered request reached the server";
  EXPECT_EQ(received[0].target, "/landed");
  EXPECT_EQ(FieldOf(received[0], "Host"), "moved.test");
  EXPECT_EQ(std::ranges::count(received[0].fields, "Host", &local_origin::Fields::value_type::first), 1);
  EXPECT_EQ(FieldOf(received[0], "X-Generation"), "A");
  EXPECT_EQ(received[1].target, "/broken");
  EXPECT_EQ(FieldOf(received[1], "X-Generation"), "(none)");
  EXPECT_TRUE(proxy.AwaitLog(" engine-error GET http://site.test/broken: ", 1, std::chrono::seconds(5)));

  // New bases in the watched folder are taken; broken ones are not.
  Install("B");
  ASSERT_TRUE(proxy.AwaitLog(" bases updated from ", 1, std::chrono::seconds(20)));
  EXPECT_EQ(FreshGeneration(proxy, "after"), "B");
  std::ofstream(m_served / "dntbugs.dat", std::ios::trunc) << "not a bug database";
  ASSERT_TRUE(proxy.AwaitLog(" bases-error ", 1, std::chrono::seconds(20)));
  EXPECT_EQ(FreshGeneration(proxy, "kept"), "B");
  EXPECT_EQ(proxy.Stop(), 0);
}

// Scripts are data from outside: what they put in a head is checked, and an
// edit the wire would not carry as one message is refused whole.
TEST_F(DntProxyBases, NeverSendsAHeadItWouldNotParse) {
  ProxyProcess proxy = StartServing();
  const auto send = [&](const std::string& target) {
    return RawExchange(proxy.Port(), "GET http://site.test" + target + " HTTP/1.1\r\nConnection: close\r\n\r\n");
  };
  EXPECT_EQ(StatusOf(send("/echo-field?v=plain%20text")), 200u);
  for (const char* target : {"/echo-field?v=a%0d%0aX-Smuggled:%201", "/echo-name?v=X%20Y",
                             "/echo-url?v=x%20HTTP/1.1%0d%0aHost:%20site.test%0d%0a%0d%0aGET%20/smuggled"}) {
    EXPECT_EQ(StatusOf(send(target)), 200u) << target;
  }
  const std::string answered = send("/echo-reason?v=Gone%0d%0aSet-Cookie:%20evil=1");
  EXPECT_EQ(answered.substr(0, answered.find("\r\n")), "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(answered.find("evil"), std::string::npos) << answered;

  const auto received = m_origin.Received();
  ASSERT_EQ(received.size(), 4u) << "a request was smuggled, or one went missing";
  EXPECT_EQ(FieldOf(received[0], "X-Echo"), "plain text");
  for (std::size_t i = 1; i < received.size(); ++i) {
    EXPECT_EQ(received[i].target.rfind("/echo-", 0), 0u) << "the refused edit was applied: " << received[i].target;
    EXPECT_EQ(FieldOf(received[i], "X-Generation"), "(none)") << received[i].target;
    EXPECT_EQ(FieldOf(received[i], "X-Smuggled"), "(none)");
  }
  EXPECT_TRUE(proxy.AwaitLog(" engine-error GET http://site.test/echo-url?", 1, std::chrono::seconds(5)));
  EXPECT_EQ(proxy.Stop(), 0);
  // Whatever the scripts wrote, each line of the log is one record.
  const std::regex record(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z [a-z-]+ .*)");
  for (const std::string& line : proxy.Log()) EXPECT_TRUE(std::regex_match(line, record)) << line;
}

TEST_F(DntProxyBases, SwapsBasesUnderLoadWithoutAFailedRequest) {
  ProxyProcess proxy = StartServing();
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

  std::set<std::string> seen;
  for (const ReceivedRequest& request : m_origin.Received()) seen.insert(FieldOf(request, "X-Generation"));
  EXPECT_EQ(seen, (std::set<std::string>{"A", "B"}));
  EXPECT_EQ(proxy.Stop(), 0);
}

// A session is a client's with a server: its connections share it, other
// clients never do, and it ends, with its verdict, once idle.
TEST_F(DntProxyBases, SharesASessionAmongTheConnectionsOfOneClientOnly) {
  ProxyProcess proxy = StartServing({"--session-idle", "2"});
  EXPECT_EQ(Seen(proxy, "127.0.0.1", "site.test/a1"), "1");
  EXPECT_EQ(Seen(proxy, "127.0.0.1", "site.test/a2"), "2");
  EXPECT_EQ(Seen(proxy, "127.0.0.2", "site.test/b1"), "1");
  EXPECT_EQ(Seen(proxy, "127.0.0.1", "other.test/a3"), "1");
  for (const char* verdict : {" verdict site.test (client 127.0.0.1): not detected",
                              " verdict site.test (client 127.0.0.2): not detected"}) {
    EXPECT_TRUE(proxy.AwaitLog(verdict, 1, std::chrono::seconds(10))) << verdict;
  }
  EXPECT_TRUE(proxy.AwaitLog(" verdict ", 3, std::chrono::seconds(10)));
  EXPECT_EQ(proxy.Stats()["sessions"]["open"], 0);
  EXPECT_EQ(Seen(proxy, "127.0.0.1", "site.test/a4"), "1") << "an ended session was used again";
  EXPECT_EQ(proxy.Stop(), 0);
  EXPECT_EQ(std::ranges::count_if(proxy.Log(), [](const std::string& line) { return line.find(" verdict ") != line.npos; }), 4);
}

TEST_F(DntProxyBases, BoundsItsSessionsAndServerConnectionsUnderAFloodOfHosts) {
  ProxyProcess proxy =
      StartServing({"--max-sessions-per-client", "3", "--max-sessions", "5", "--max-server-connections", "20"});
  constexpr int Hosts = 150;
  m_origin.SetRecording(false);
  long memory = 0;
  for (const char* client : {"127.0.0.1", "127.0.0.2"}) {
    net::io_context io;
    net::ip::tcp::socket socket(io);
    socket.open(net::ip::tcp::v4());
    socket.bind({net::ip::make_address(client), 0});
    socket.connect({net::ip::address_v4::loopback(), proxy.Port()});
    boost::beast::flat_buffer buffer;
    for (int host = 0; host < Hosts; ++host) {
      http::write(socket, http::request<http::empty_body>(http::verb::get, "http://h" + std::to_string(host) + ".test/", 11));
      http::response<http::string_body> response;
      http::read(socket, buffer, response);
      ASSERT_EQ(response.result_int(), 200u);
      if (host == 30 && memory == 0) memory = proxy.MemoryKiB("VmRSS");
    }
    EXPECT_LE(proxy.Stats()["serverConnectionsOpen"], 20) << client;
  }
  EXPECT_EQ(proxy.Stats()["sessions"]["open"], 5);
  EXPECT_TRUE(proxy.AwaitLog(" verdict h", 2 * Hosts - 5, std::chrono::seconds(10)));
  const long grown = proxy.MemoryKiB("VmRSS") - memory;
  EXPECT_LT(grown, 8 * 1024) << "the proxy's memory grew by " << grown << " KiB";
  // The first client kept its two most recent servers; the second took the
  // rest.
  m_origin.SetRecording(true);
  const std::string last = "h" + std::to_string(Hosts - 1) + ".test/again", third = "h" + std::to_string(Hosts - 3) + ".test/again";
  EXPECT_EQ(Seen(proxy, "127.0.0.1", last), "2");
  EXPECT_EQ(Seen(proxy, "127.0.0.1", third), "1");
  EXPECT_EQ(proxy.Stop(), 0);
}

// Several connections of one client on the proxy's threads, all to one
// server: the session's calls take turns, or its count would skip or
// repeat (and ThreadSanitizer would see the proxy race).
TEST_F(DntProxyBases, NeverCallsASessionFromTwoThreadsAtOnce) {
  ProxyProcess proxy = StartServing({"--threads", "4"});
  constexpr int Connections = 8, Requests = 40;
  std::atomic<int> failures{0};
  {
    Watchdog watchdog(proxy, std::chrono::seconds(120));
    std::vector<std::thread> clients;
    for (int connection = 0; connection < Connections; ++connection) {
      clients.emplace_back([&, connection] {
        try {
          net::io_context io;
          net::ip::tcp::socket socket(io);
          socket.connect({net::ip::address_v4::loopback(), proxy.Port()});
          boost::beast::flat_buffer buffer;
          for (int r = 0; r < Requests; ++r) {
            const std::string target = "http://busy.test/" + std::to_string(connection) + "/" + std::to_string(r);
            http::write(socket, http::request<http::empty_body>(http::verb::get, target, 11));
            http::response<http::string_body> response;
            http::read(socket, buffer, response);
            failures += response.result_int() != 200;
          }
        } catch (const std::exception&) {
          ++failures;
        }
      });
    }
    for (auto& client : clients) client.join();
  }
  EXPECT_EQ(failures, 0);
  std::vector<int> seen;
  for (const ReceivedRequest& request : m_origin.Received()) seen.push_back(std::stoi(FieldOf(request, "X-Seen")));
  std::ranges::sort(seen);
  std::vector<int> expected(Connections * Requests);
  std::iota(expected.begin(), expected.end(), 1);
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(proxy.Stop(), 0);
}

}  // namespace
