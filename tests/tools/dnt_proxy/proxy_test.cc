// dnt-proxy between a real client (curl) and a local origin that records
// what reaches it: the engine's work on live requests, the limits and
// refusals, streaming, and the connections it holds and frees. Runs in a
// network namespace of its own with only loopback up.
#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/tools/dnt_proxy/proxy_process.h"

namespace {

namespace net = boost::asio;
using local_origin::ReceivedRequest;
using namespace proxy_test;
using tools_test::Quoted;

constexpr const char* Facebook = "http://connect.facebook.net/en_US/fbevents.js";
constexpr const char* Analytics = "http://www.google-analytics.com/collect?v=1&tid=UA-1";

class DntProxy : public ProxyTest {
 protected:
  // Names the tests use go to the origin; down.test to a closed port;
  // everything else is looked up, and fails, in the test's namespace.
  ProxyProcess StartMapped(std::vector<std::string> more = {}) const {
    auto arguments = MapHosts({"*.test", "connect.facebook.net", "www.google-analytics.com"}, m_origin.Port());
    arguments.insert(arguments.begin(), {"--map-host", "down.test=127.0.0.1:1"});  // the first that matches wins
    arguments.insert(arguments.end(), more.begin(), more.end());
    return Start(arguments);
  }

  net::ip::tcp::socket Connect(net::io_context& io, const ProxyProcess& proxy) const {
    net::ip::tcp::socket socket(io);
    socket.connect({net::ip::address_v4::loopback(), proxy.Port()});
    return socket;
  }
};

TEST_F(DntProxy, SuppressesTrackingOnLiveRequests) {
  ProxyProcess proxy = StartMapped({"--block", "social", "--dnt"});

  EXPECT_EQ(Curl(proxy, "-o /dev/null -w '%{http_code}' " + Quoted(Facebook)).out, "403");
  EXPECT_TRUE(ReceivedAt(m_origin, "/en_US/fbevents.js").empty()) << "a blocked request reached the server";

  const auto tracked = Curl(proxy, "-D - -H 'Cookie: uid=42' -H 'Referer: http://shop.test/cart' " + Quoted(Analytics));
  EXPECT_EQ(StatusOf(tracked.out), 200u);
  EXPECT_EQ(tracked.out.find("Set-Cookie"), std::string::npos) << tracked.out;
  const auto atTracker = ReceivedAt(m_origin, "/collect?v=1&tid=UA-1");
  ASSERT_EQ(atTracker.size(), 1u);
  for (const auto& [name, value] : {std::pair{"Cookie", "(none)"}, {"Referer", "(none)"}, {"DNT", "1"}, {"Sec-GPC", "1"},
                                    {"Host", "www.google-analytics.com"}}) {
    EXPECT_EQ(FieldOf(atTracker[0], name), value) << name;
  }

  // The site itself keeps its cookies both ways; the two requests share a
  // connection to the proxy and one from the proxy to the server.
  const auto site =
      Curl(proxy, "-D - -H 'Cookie: cart=7' -w '[%{num_connects}]' http://shop.test/one http://shop.test/two");
  EXPECT_NE(site.out.find("Set-Cookie: seen=1"), std::string::npos) << site.out;
  EXPECT_NE(site.out.find("[0]"), std::string::npos) << "the second request did not reuse the connection";
  const auto one = ReceivedAt(m_origin, "/one"), two = ReceivedAt(m_origin, "/two");
  ASSERT_TRUE(one.size() == 1 && two.size() == 1);
  EXPECT_EQ(FieldOf(one[0], "Cookie"), "cart=7");
  EXPECT_EQ(one[0].connection, two[0].connection);

  // The counts for Prometheus: every line a comment or a sample.
  const std::string body = proxy.Admin("/metrics");
  for (const char* sample : {"\ndnt_proxy_blocked_requests_total 1\n", "\ndnt_proxy_requests_total{scheme=\"http\"} 4\n"}) {
    EXPECT_NE(body.find(sample), std::string::npos) << sample << body;
  }
  std::istringstream lines(body);
  const std::regex wellFormed(R"(# (HELP|TYPE) \w+ .+|\w+(\{[^}]*\})? [-+.e0-9]+)");
  for (std::string text; std::getline(lines, text);) EXPECT_TRUE(std::regex_match(text, wellFormed)) << text;

  EXPECT_EQ(proxy.Stop(), 0);
  for (const char* line : {" blocked GET http://connect.facebook.net/en_US/fbevents.js (client ",
                           "removed Cookie; removed Referer; added DNT: 1; added Sec-GPC: 1; response: removed Set-Cookie",
                           "verdict connect.facebook.net (client ", "): blocked, Facebook (social network)",
                           "): detected, Google Analytics (web analytics)"}) {
    EXPECT_TRUE(proxy.AwaitLog(line)) << line;
  }
}

TEST_F(DntProxy, RefusesWhatItMustNotForward) {
  ProxyProcess proxy = StartMapped({"--idle-timeout", "1"});
  const std::string self = "127.0.0.1:" + std::to_string(proxy.Port());
  const struct {
    const char* what;
    std::string request;
    unsigned status;
  } cases[] = {
      {"a long request line", "GET http://site.test/" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n", 414},
      {"a large header", "GET http://site.test/ HTTP/1.1\r\nX-Big: " + std::string(70000, 'b') + "\r\n\r\n", 431},
      {"obsolete line folding", "GET http://site.test/ HTTP/1.1\r\nX-A: a\r\n b\r\n\r\n", 400},
      {"Content-Length with Transfer-Encoding",
       "POST http://site.test/ HTTP/1.1\r\nContent-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {"differing Content-Lengths", "POST http://site.test/ HTTP/1.1\r\nContent-Length: 4\r\nContent-Length: 5\r\n\r\nabcd",
       400},
      {"a transfer coding not ending in chunked",
       "POST http://site.test/ HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\nabcd", 400},
      {"no HTTP at all", "HELLO THERE\r\n\r\n", 400},
      {"a request for the proxy as a server", "GET / HTTP/1.1\r\nHost: site.test\r\n\r\n", 400},
      {"https without CONNECT", "GET https://site.test/ HTTP/1.1\r\n\r\n", 400},
      {"CONNECT without a port", "CONNECT site.test HTTP/1.1\r\n\r\n", 400},
      {"the proxy itself", "GET http://" + self + "/ HTTP/1.1\r\n\r\n", 508},
      {"a request that came round", "GET http://site.test/loop HTTP/1.1\r\nVia: 1.1 dnt-proxy\r\n\r\n", 508},
      {"an unknown host", "GET http://nowhere.invalid/ HTTP/1.1\r\n\r\n", 502},
      {"a server that is down", "GET http://down.test/ HTTP/1.1\r\n\r\n", 502},
      {"a server that stays silent", "GET http://site.test/silent HTTP/1.1\r\nConnection: close\r\n\r\n", 504},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StatusOf(RawExchange(proxy.Port(), c.request)), c.status) << c.what;
  }
  for (const ReceivedRequest& request : m_origin.Received()) {
    EXPECT_EQ(request.target, "/silent") << "refused, yet forwarded";
  }
  EXPECT_EQ(Curl(proxy, "-o /dev/null -w '%{http_code}' http://site.test/after").out, "200");
  EXPECT_EQ(proxy.Stop(), 0);
}

TEST_F(DntProxy, StreamsLargeBodiesInBoundedMemory) {
  ProxyProcess proxy = StartMapped();
  ASSERT_EQ(Curl(proxy, "-o /dev/null -w '%{http_code}' http://site.test/warm").out, "200");
  const long before = proxy.MemoryKiB("VmHWM");
  const std::string size = std::to_string(100L * 1024 * 1024);
  const auto up = Run("sh -c " + Quoted("head -c " + size + " /dev/zero | curl -s --max-time 60 -x " + proxy.Url() +
                                        " -T - -o /dev/null -w '%{http_code}' http://site.test/sink"));
  EXPECT_EQ(up.out, "200");
  const auto sink = ReceivedAt(m_origin, "/sink");
  ASSERT_EQ(sink.size(), 1u);
  EXPECT_EQ(std::to_string(sink[0].bodyBytes), size);
  EXPECT_EQ(FieldOf(sink[0], "Transfer-Encoding"), "chunked");
  const auto down = Curl(proxy, "-o /dev/null -w '%{http_code} %{size_download}' http://site.test/stream/" + size);
  EXPECT_EQ(down.out, "200 " + size);
  const long grown = proxy.MemoryKiB("VmHWM") - before;
  EXPECT_LT(grown, 16 * 1024) << "the proxy's peak memory grew by " << grown << " KiB for 2 x 100 MB";
  EXPECT_EQ(proxy.Stop(), 0);
}

TEST_F(DntProxy, FreesEverythingOfAClientThatGoesMidBody) {
  ProxyProcess proxy = StartMapped({"--log-format", "json", "--session-idle", "1"});
  {
    net::io_context io;
    net::ip::tcp::socket socket = Connect(io, proxy);
    net::write(socket, net::buffer(std::string("POST http://gone.test/upload HTTP/1.1\r\nContent-Length: 50000000\r\n\r\n")));
    net::write(socket, net::buffer(std::string(1 << 20, 'x')));
  }
  // Its session, which no other connection of the client uses, ends once
  // idle.
  EXPECT_TRUE(proxy.AwaitLog(R"("event":"verdict","session":"gone.test")", 1, std::chrono::seconds(5)));
  EXPECT_TRUE(ReceivedAt(m_origin, "/upload").empty());
  EXPECT_EQ(Curl(proxy, "-o /dev/null -w '%{http_code}' http://site.test/after").out, "200");
  EXPECT_EQ(proxy.Stop(), 0);
}

TEST_F(DntProxy, LetsClientsBeyondTheLimitWait) {
  ProxyProcess proxy = StartMapped({"--max-clients", "2", "--max-clients-per-address", "2"});
  net::io_context io;
  std::vector<net::ip::tcp::socket> held;
  for (int i = 0; i < 2; ++i) held.push_back(Connect(io, proxy));
  std::string answer;
  std::thread waiting([&] {
    answer = RawExchange(proxy.Port(), "GET http://site.test/waited HTTP/1.1\r\nConnection: close\r\n\r\n",
                         std::chrono::seconds(10));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(ReceivedAt(m_origin, "/waited").empty()) << "a third client was served beyond the limit";
  held.front().close();
  waiting.join();
  EXPECT_EQ(StatusOf(answer), 200u);
  EXPECT_EQ(proxy.Stop(), 0);
}

TEST_F(DntProxy, KeepsPausedSitesAcrossRestartsAndIgnoresAListItCannotRead) {
  const auto facebook = [&](const ProxyProcess& proxy) {
    return Curl(proxy, "-o /dev/null -w '%{http_code}' -e http://shop.test/ " + Quoted(Facebook)).out;
  };
  {
    ProxyProcess proxy = StartMapped({"--block", "social"});
    ASSERT_EQ(StatusOf(proxy.Pause("shop.test", true, proxy.AdminToken())), 200u);
  }
  {
    ProxyProcess proxy = StartMapped({"--block", "social"});
    EXPECT_EQ(proxy.Admin("/api/paused"), R"({"paused":{"requests":0,"sites":["shop.test"]}})");
    EXPECT_EQ(facebook(proxy), "200");
    EXPECT_TRUE(proxy.AwaitLog(" paused protection is paused on shop.test (kept in "));
  }
  for (const char* corrupt : {R"({"paused": ["shop.test")", R"({"paused": ["shop test"]})", "[]", "\xff"}) {
    std::ofstream(m_scratch.path() / "state/paused-sites.json", std::ios::trunc) << corrupt;
    ProxyProcess proxy = StartMapped({"--block", "social"});
    EXPECT_TRUE(proxy.AwaitLog("paused-sites.json are not used (")) << corrupt;
    EXPECT_EQ(facebook(proxy), "403") << corrupt;
  }
}

// Blind tunnels, which relay the same way, are tried over HTTPS.
TEST_F(DntProxy, RelaysWebSocketsOnceTheEngineSawTheirRequest) {
  ProxyProcess proxy = StartMapped();
  net::io_context io;
  net::ip::tcp::socket socket = Connect(io, proxy);
  net::write(socket, net::buffer(std::string("GET http://site.test/websocket HTTP/1.1\r\nConnection: Upgrade\r\n"
                                             "Upgrade: websocket\r\nSec-WebSocket-Version: 13\r\n\r\n")));
  net::streambuf head;
  net::read_until(socket, head, "\r\n\r\n");
  const std::string switched(net::buffers_begin(head.data()), net::buffers_end(head.data()));
  EXPECT_EQ(StatusOf(switched), 101u) << switched;
  net::write(socket, net::buffer(std::string("ping")));
  std::string echoed(4, '\0');
  net::read(socket, net::buffer(echoed));
  EXPECT_EQ(echoed, "ping");
  const auto upgrade = ReceivedAt(m_origin, "/websocket");
  ASSERT_EQ(upgrade.size(), 1u);
  EXPECT_EQ(FieldOf(upgrade[0], "Upgrade"), "websocket");
  EXPECT_EQ(proxy.Stop(), 0);
}

}  // namespace
