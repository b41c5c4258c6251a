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
#include <thread>

#include "tests/tools/dnt_proxy/proxy_process.h"
#include "tests/tools/program_run.h"
#include "tools/local_origin/local_origin.h"

namespace {

namespace fs = std::filesystem;
namespace net = boost::asio;
using local_origin::LocalOrigin;
using local_origin::ReceivedRequest;
using proxy_test::FieldOf;
using proxy_test::ProxyProcess;
using proxy_test::RawExchange;
using proxy_test::StatusOf;
using tools_test::Quoted;

constexpr const char* Facebook = "http://connect.facebook.net/en_US/fbevents.js";
constexpr const char* Analytics = "http://www.google-analytics.com/collect?v=1&tid=UA-1";

class DntProxy : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { scratch = tools_test::MakeScratchDirectory("dnt_proxy"); }
  static void TearDownTestSuite() { fs::remove_all(scratch); }

  // Names the tests use go to the origin; down.test to a closed port;
  // everything else is looked up, and fails, in the test's namespace.
  std::vector<std::string> Arguments(std::vector<std::string> more = {}) const {
    const std::string origin = "127.0.0.1:" + std::to_string(m_origin.Port());
    std::vector<std::string> arguments = {"--map-host", "down.test=127.0.0.1:1", "--map-host", "*.test=" + origin,
                                          "--map-host", "connect.facebook.net=" + origin, "--map-host",
                                          "www.google-analytics.com=" + origin};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  tools_test::ProgramRun Curl(const ProxyProcess& proxy, const std::string& arguments) const {
    return tools_test::RunProgram("curl -s --max-time 30 -x " + proxy.Url() + " " + arguments, scratch);
  }

  std::vector<ReceivedRequest> ReceivedAt(const std::string& target) const { return proxy_test::ReceivedAt(m_origin, target); }

  static inline fs::path scratch;
  LocalOrigin m_origin;
};

TEST_F(DntProxy, SuppressesTrackingOnLiveRequests) {
  ProxyProcess proxy(Arguments({"--block", "social", "--dnt"}), scratch / "tracking.log");

  const auto blocked = Curl(proxy, "-o /dev/null -w '%{http_code}' " + Quoted(Facebook));
  EXPECT_EQ(blocked.out, "403");
  EXPECT_TRUE(ReceivedAt("/en_US/fbevents.js").empty()) << "a blocked request reached the server";

  const auto tracked = Curl(proxy, "-D - -H 'Cookie: uid=42' -H 'Referer: http://shop.test/cart' " + Quoted(Analytics));
  EXPECT_EQ(StatusOf(tracked.out), 200u);
  EXPECT_EQ(tracked.out.find("Set-Cookie"), std::string::npos) << tracked.out;
  const auto atTracker = ReceivedAt("/collect?v=1&tid=UA-1");
  ASSERT_EQ(atTracker.size(), 1u);
  EXPECT_EQ(FieldOf(atTracker[0], "Cookie"), "(none)");
  EXPECT_EQ(FieldOf(atTracker[0], "Referer"), "(none)");
  EXPECT_EQ(FieldOf(atTracker[0], "DNT"), "1");
  EXPECT_EQ(FieldOf(atTracker[0], "Host"), "www.google-analytics.com");

  // The site itself keeps its cookies both ways; the two requests share a
  // connection to the proxy and one from the proxy to the server.
  const auto site =
      Curl(proxy, "-D - -H 'Cookie: cart=7' -w '[%{num_connects}]' http://shop.test/one http://shop.test/two");
  EXPECT_NE(site.out.find("Set-Cookie: seen=1"), std::string::npos) << site.out;
  EXPECT_NE(site.out.find("[0]"), std::string::npos) << "the second request did not reuse the connection";
  const auto one = ReceivedAt("/one"), two = ReceivedAt("/two");
  ASSERT_EQ(one.size(), 1u);
  ASSERT_EQ(two.size(), 1u);
  EXPECT_EQ(FieldOf(one[0], "Cookie"), "cart=7");
  EXPECT_EQ(one[0].connection, two[0].connection);

  EXPECT_EQ(proxy.Stop(), 0);
  std::string log;
  for (const std::string& line : proxy.Log()) log += line + "\n";
  EXPECT_NE(log.find(" blocked GET http://connect.facebook.net/en_US/fbevents.js (client "), std::string::npos) << log;
  EXPECT_NE(log.find("removed Cookie; removed Referer; added DNT: 1; response: removed Set-Cookie"), std::string::npos)
      << log;
  EXPECT_NE(log.find("verdict connect.facebook.net (client "), std::string::npos) << log;
  EXPECT_NE(log.find("): blocked, Facebook (social network)"), std::string::npos) << log;
  EXPECT_NE(log.find("): detected, Google Analytics (web analytics)"), std::string::npos) << log;
}

TEST_F(DntProxy, RefusesWhatItMustNotForward) {
  ProxyProcess proxy(Arguments({"--idle-timeout", "1"}), scratch / "refusals.log");
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
  ProxyProcess proxy(Arguments(), scratch / "streams.log");
  ASSERT_EQ(Curl(proxy, "-o /dev/null -w '%{http_code}' http://site.test/warm").out, "200");
  const long before = proxy.MemoryKiB("VmHWM");
  constexpr long Size = 100L * 1024 * 1024;
  const std::string upload = "head -c " + std::to_string(Size) + " /dev/zero | curl -s --max-time 60 -x " + proxy.Url() +
                             " -T - -o /dev/null -w '%{http_code}' http://site.test/sink";
  const auto up = tools_test::RunProgram("sh -c " + Quoted(upload), scratch);
  EXPECT_EQ(up.out, "200");
  const auto sink = ReceivedAt("/sink");
  ASSERT_EQ(sink.size(), 1u);
  EXPECT_EQ(sink[0].bodyBytes, static_cast<uint64_t>(Size));
  EXPECT_EQ(FieldOf(sink[0], "Transfer-Encoding"), "chunked");
  const auto down = Curl(proxy, "-o /dev/null -w '%{http_code} %{size_download}' http://site.test/stream/" +
                                    std::to_string(Size));
  EXPECT_EQ(down.out, "200 " + std::to_string(Size));
  const long grown = proxy.MemoryKiB("VmHWM") - before;
  EXPECT_LT(grown, 16 * 1024) << "the proxy's peak memory grew by " << grown << " KiB for 2 x 100 MB";
  EXPECT_EQ(proxy.Stop(), 0);
}

TEST_F(DntProxy, FreesEverythingOfAClientThatGoesMidBody) {
  ProxyProcess proxy(Arguments({"--log-format", "json"}), scratch / "gone.log");
  {
    net::io_context io;
    net::ip::tcp::socket socket(io);
    socket.connect({net::ip::address_v4::loopback(), proxy.Port()});
    net::write(socket, net::buffer(std::string("POST http://gone.test/upload HTTP/1.1\r\nContent-Length: 50000000\r\n\r\n")));
    net::write(socket, net::buffer(std::string(1 << 20, 'x')));
  }
  // Its session ends at once, with the connection to the server.
  EXPECT_TRUE(proxy.AwaitLog(R"("event":"verdict","session":"gone.test")", 1, std::chrono::seconds(5)));
  EXPECT_TRUE(ReceivedAt("/upload").empty());
  EXPECT_EQ(Curl(proxy, "-o /dev/null -w '%{http_code}' http://site.test/after").out, "200");
  EXPECT_EQ(proxy.Stop(), 0);
}

TEST_F(DntProxy, LetsClientsBeyondTheLimitWait) {
  ProxyProcess proxy(Arguments({"--max-clients", "2"}), scratch / "limit.log");
  net::io_context io;
  std::vector<net::ip::tcp::socket> held;
  for (int i = 0; i < 2; ++i) {
    held.emplace_back(io).connect({net::ip::address_v4::loopback(), proxy.Port()});
  }
  std::string answer;
  std::thread waiting([&] {
    answer = RawExchange(proxy.Port(), "GET http://site.test/waited HTTP/1.1\r\nConnection: close\r\n\r\n",
                         std::chrono::seconds(10));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(ReceivedAt("/waited").empty()) << "a third client was served beyond the limit";
  held.front().close();
  waiting.join();
  EXPECT_EQ(StatusOf(answer), 200u);
  EXPECT_EQ(proxy.Stop(), 0);
}

TEST_F(DntProxy, RelaysTunnelsAndWebSocketsBlind) {
  ProxyProcess proxy(Arguments(), scratch / "tunnels.log");
  const auto tunnelled = Curl(proxy, "-p -o /dev/null -w '%{http_code}' http://site.test/inside");
  EXPECT_EQ(tunnelled.out, "200");
  const auto inside = ReceivedAt("/inside");
  ASSERT_EQ(inside.size(), 1u);
  EXPECT_EQ(FieldOf(inside[0], "Via"), "(none)") << "the proxy read inside the tunnel";

  net::io_context io;
  net::ip::tcp::socket socket(io);
  socket.connect({net::ip::address_v4::loopback(), proxy.Port()});
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
  ASSERT_EQ(ReceivedAt("/websocket").size(), 1u);
  EXPECT_EQ(FieldOf(ReceivedAt("/websocket")[0], "Upgrade"), "websocket");

  EXPECT_EQ(proxy.Stop(), 0);
  EXPECT_TRUE(proxy.AwaitLog("tunnel site.test:80 (client", 1, std::chrono::seconds(1)));
  EXPECT_TRUE(proxy.AwaitLog("not processed (tunnel)", 1, std::chrono::seconds(1)));
}

}  // namespace
