// dnt-proxy against what its threat model names, each in the test's own
// network namespace: clients on other hosts (an address on a veth pair of
// the namespace, which nothing leaves) reaching the proxy's
// host or private networks through it, loops into the proxy itself, clients
// that hold every slot, servers that answer more than they were asked or in
// codings nobody named, and pages that would pause protection through the
// admin endpoint.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "tests/tools/dnt_proxy/proxy_process.h"

namespace {

namespace net = boost::asio;
namespace http = boost::beast::http;
using tcp = net::ip::tcp;
using namespace proxy_test;

constexpr const char* ProxyAddress = "10.9.0.1";
constexpr const char* RemoteClient = "10.9.0.2";

// A server that answers each target with bytes of the test's own making,
// however wrong; for 30 s at most.
class RawOrigin {
 public:
  struct Answer {
    std::string bytes;
    bool close = false;
    // The first time it is asked, the connection ends with no answer, as
    // a server's that closed it just as the request came.
    bool hangUpFirst = false;
  };
  explicit RawOrigin(std::map<std::string, Answer> answers)
      : m_answers(std::move(answers)), m_acceptor(m_io, {net::ip::address_v4::loopback(), 0}) {
    Accept();
    m_thread = std::thread([this] { m_io.run_for(std::chrono::seconds(30)); });
  }
  ~RawOrigin() {
    m_io.stop();
    m_thread.join();
  }
  uint16_t Port() const { return m_acceptor.local_endpoint().port(); }

 private:
  struct Peer {
    explicit Peer(tcp::socket socket) : socket(std::move(socket)) {}
    tcp::socket socket;
    net::streambuf buffer;
  };

  void Accept() {
    m_acceptor.async_accept([this](boost::system::error_code error, tcp::socket socket) {
      if (error) return;
      Serve(std::make_shared<Peer>(std::move(socket)));
      Accept();
    });
  }

  void Serve(std::shared_ptr<Peer> peer) {
    net::async_read_until(peer->socket, peer->buffer, "\r\n\r\n", [this, peer](boost::system::error_code error, std::size_t size) {
      if (error) return;
      const std::string head(net::buffers_begin(peer->buffer.data()), net::buffers_begin(peer->buffer.data()) + size);
      peer->buffer.consume(size);
      const std::size_t start = head.find(' ') + 1;
      const auto found = m_answers.find(head.substr(start, head.find(' ', start) - start));
      auto answer = std::make_shared<Answer>(found != m_answers.end() ? found->second : Answer{"HTTP/1.1 404 Nope\r\n\r\n", true});
      if (answer->hangUpFirst && m_hungUp.insert(found->first).second) *answer = {"", true};
      net::async_write(peer->socket, net::buffer(answer->bytes), [this, peer, answer](boost::system::error_code error, std::size_t) {
        if (error) return;
        if (!answer->close) return Serve(peer);
        peer->socket.shutdown(tcp::socket::shutdown_both, error);
      });
    });
  }

  const std::map<std::string, Answer> m_answers;
  std::set<std::string> m_hungUp;
  net::io_context m_io;
  tcp::acceptor m_acceptor;
  std::thread m_thread;
};

std::string Get(const std::string& url) { return "GET " + url + " HTTP/1.1\r\nConnection: close\r\n\r\n"; }

class DntProxyThreats : public ProxyTest {
 protected:
  // Addresses for the proxy and for a client on another host, as far as the
  // proxy can tell, on a veth pair: only in a network namespace of the
  // test's own, which has no other interface than loopback (and this pair).
  bool AddRemoteAddresses() const {
    const auto links = Run("ip -o link show");
    std::istringstream lines(links.out);
    for (std::string line; std::getline(lines, line);) {
      const std::string name = line.substr(line.find(": ") + 2, line.find(':', line.find(": ") + 2) - line.find(": ") - 2);
      if (name != "lo" && name.rfind("dnt-", 0) != 0) return false;
    }
    if (links.exitCode != 0) return false;
    return Run("ip link show dnt-remote >/dev/null 2>&1 || { ip link add dnt-remote type veth peer name dnt-peer && "
               "ip addr add " + std::string(ProxyAddress) + "/24 dev dnt-remote && ip addr add " + RemoteClient +
               "/24 dev dnt-remote && ip link set dnt-peer up && ip link set dnt-remote up; }")
               .exitCode == 0;
  }

  std::vector<std::string> Mapped(std::vector<std::string> more) const {
    auto arguments = MapHosts({"site.test"}, m_origin.Port());
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }
};

TEST_F(DntProxyThreats, TakesRemoteClientsNeitherToItsHostNorIntoPrivateNetworks) {
  if (!AddRemoteAddresses()) GTEST_SKIP() << "needs root in a network namespace of its own";
  ProxyProcess proxy(Mapped({"--allow-client", "10.9.0.0/24", "--allow-destination", "192.168.77.0/24"}),
                     m_scratch.path() / "proxy.log", ProxyAddress);
  const tcp::endpoint at(net::ip::make_address(ProxyAddress), proxy.Port());
  const std::string origin = std::to_string(m_origin.Port());
  const auto remote = [&](const std::string& request) {
    return StatusOf(RawExchange(net::ip::make_address(RemoteClient), at, request));
  };
  EXPECT_EQ(remote(Get("http://site.test/mapped")), 200u);
  for (const std::string& host : std::vector<std::string>{
           "127.0.0.1:" + std::to_string(proxy.AdminPort()), "[::ffff:127.0.0.1]:" + origin, "0.0.0.0:" + origin,
           "localhost:" + origin, "127.1:" + origin, "2130706433:" + origin, std::string(ProxyAddress) + ":" + origin,
           "169.254.169.254", "192.168.1.1"}) {
    EXPECT_EQ(remote(Get("http://" + host + "/api/stats")), 403u) << host;
  }
  for (const char* target : {"127.0.0.1:22", "127.0.0.1:443", "[::1]:443"}) {
    EXPECT_EQ(remote("CONNECT " + std::string(target) + " HTTP/1.1\r\n\r\n"), 403u) << target;
  }
  // An allowed private network is tried (and has no route here).
  EXPECT_EQ(remote(Get("http://192.168.77.1/")), 502u);
  // A client on loopback keeps its way to the host.
  EXPECT_EQ(StatusOf(RawExchange(net::ip::address_v4::loopback(), at, Get("http://127.0.0.1:" + origin + "/local"))), 200u);
  std::vector<std::string> received;
  for (const auto& request : m_origin.Received()) received.push_back(request.target);
  EXPECT_EQ(received, (std::vector<std::string>{"/mapped", "/local"}));
  EXPECT_TRUE(proxy.AwaitLog(" refused-destination http://localhost:"));
  EXPECT_EQ(proxy.Stop(), 0);
}

TEST_F(DntProxyThreats, RefusesLoopsByAnySpellingAndCapsEachClientAddress) {
  ProxyProcess proxy = Start(Mapped({"--max-clients", "100", "--max-clients-per-address", "3"}));
  const std::string self = std::to_string(proxy.Port());
  std::string loops;
  for (int i = 0; i < 150; ++i) loops += "CONNECT 0.0.0.0:" + self + " HTTP/1.1\r\n\r\n";
  EXPECT_EQ(StatusOf(RawExchange(proxy.Port(), loops)), 403u);
  for (const std::string host : {"0.0.0.0", "[::ffff:127.0.0.1]", "localhost", "127.1", "[::]"}) {
    EXPECT_EQ(StatusOf(RawExchange(proxy.Port(), Get("http://" + host + ":" + self + "/"))), 508u) << host;
  }
  for (int i = 0; i < 100 && proxy.Stats()["connectionsOpen"] != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));

  // Three connections from one address are all it gets; another address is
  // served meanwhile.
  net::io_context io;
  std::vector<tcp::socket> held;
  for (int i = 0; i < 3; ++i) {
    held.emplace_back(io).connect({net::ip::address_v4::loopback(), proxy.Port()});
  }
  const tcp::endpoint at(net::ip::address_v4::loopback(), proxy.Port());
  EXPECT_EQ(StatusOf(RawExchange(net::ip::address_v4::loopback(), at, Get("http://site.test/fourth"))), 503u);
  EXPECT_EQ(StatusOf(RawExchange(net::ip::make_address("127.0.0.2"), at, Get("http://site.test/other"))), 200u);
  held.clear();
  EXPECT_TRUE(ReceivedAt(m_origin, "/fourth").empty());
  EXPECT_EQ(proxy.Stop(), 0);
}

TEST_F(DntProxyThreats, GivesAWholeRequestHeadADeadline) {
  ProxyProcess proxy = Start(Mapped({"--max-clients", "3", "--max-clients-per-address", "3", "--head-timeout", "1"}));
  net::io_context io;
  std::vector<tcp::socket> slow;
  for (int i = 0; i < 3; ++i) slow.emplace_back(io).connect({net::ip::address_v4::loopback(), proxy.Port()});
  std::atomic<bool> done{false};
  std::thread drip([&] {
    const std::string head = Get("http://site.test/slow");
    for (std::size_t i = 0; i < head.size() && !done; ++i) {
      for (auto& socket : slow) {
        boost::system::error_code ignored;
        net::write(socket, net::buffer(&head[i], 1), ignored);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });
  const std::string answer = RawExchange(proxy.Port(), Get("http://site.test/waiting"), std::chrono::seconds(8));
  done = true;
  drip.join();
  EXPECT_EQ(StatusOf(answer), 200u) << "three slow heads kept the proxy's every slot";
  EXPECT_TRUE(ReceivedAt(m_origin, "/slow").empty());
  EXPECT_EQ(proxy.Stop(), 0);
}

TEST_F(DntProxyThreats, NeverTakesBytesBeyondAnAnswerForTheNextOne) {
  const std::string evil = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nEVIL!";
  RawOrigin origin({{"/no-content", {"HTTP/1.1 204 No Content\r\n\r\n" + evil}},
                    {"/twice", {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok" + evil}},
                    {"/head", {evil}},
                    {"/next", {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ngood"}},
                    {"/gzip", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n\x1f\x8b\x08 gzip bytes", true}}});
  ProxyProcess proxy = Start(MapHosts({"raw.test"}, origin.Port()));
  for (const auto& [method, target] : {std::pair{http::verb::get, "/no-content"}, {http::verb::get, "/twice"},
                                       {http::verb::head, "/head"}}) {
    net::io_context io;
    tcp::socket socket(io);
    socket.connect({net::ip::address_v4::loopback(), proxy.Port()});
    boost::beast::flat_buffer buffer;
    http::write(socket, http::request<http::empty_body>(method, std::string("http://raw.test") + target, 11));
    http::response_parser<http::string_body> first;
    first.skip(method == http::verb::head);
    http::read(socket, buffer, first);
    http::write(socket, http::request<http::empty_body>(http::verb::get, "http://raw.test/next", 11));
    http::response<http::string_body> next;
    http::read(socket, buffer, next);
    EXPECT_EQ(next.body(), "good") << target;
  }

  // A coding other than chunked reaches an HTTP/1.1 client named, and none
  // an HTTP/1.0 client, which knows none.
  const std::string coded = RawExchange(proxy.Port(), Get("http://raw.test/gzip"));
  EXPECT_NE(coded.find("\r\nTransfer-Encoding: gzip, chunked\r\n"), std::string::npos) << coded;
  http::response_parser<http::string_body> parser;
  parser.eager(true);
  boost::beast::error_code error;
  for (std::string_view rest = coded; !parser.is_done() && !rest.empty() && !error;) {
    rest.remove_prefix(parser.put(net::buffer(rest.data(), rest.size()), error));
  }
  EXPECT_TRUE(parser.is_done()) << coded;
  EXPECT_EQ(parser.get().body(), "\x1f\x8b\x08 gzip bytes");
  EXPECT_EQ(StatusOf(RawExchange(proxy.Port(), "GET http://raw.test/gzip HTTP/1.0\r\n\r\n")), 502u);
  EXPECT_EQ(proxy.Stop(), 0);
}

// A kept connection the server has closed is never used, and one it closes
// just as a request comes costs the client nothing where the request can
// go once more; a POST, or a body the client sent, never goes twice.
TEST_F(DntProxyThreats, ResendsOnlyWhatMayGoTwiceWhenTheServerClosesAKeptConnection) {
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  RawOrigin origin({{"/then-closes", {ok, true}},
                    {"/kept", {ok}},
                    {"/get", {ok, false, true}},
                    {"/put", {ok, false, true}},
                    {"/post", {ok, false, true}}});
  ProxyProcess proxy = Start(MapHosts({"raw.test"}, origin.Port()));
  const auto exchange = [&](tcp::socket& socket, http::verb method, const std::string& target, std::string body) {
    http::request<http::string_body> request(method, "http://raw.test" + target, 11);
    request.body() = std::move(body);
    if (!request.body().empty()) request.prepare_payload();
    http::write(socket, request);
    boost::beast::flat_buffer buffer;
    http::response<http::string_body> response;
    boost::beast::error_code error;
    http::read(socket, buffer, response, error);
    return error ? 0u : response.result_int();
  };
  const auto afterAKeptConnection = [&](http::verb method, const std::string& target, std::string body) {
    net::io_context io;
    tcp::socket socket(io);
    socket.connect({net::ip::address_v4::loopback(), proxy.Port()});
    EXPECT_EQ(exchange(socket, http::verb::get, "/then-closes", ""), 200u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(exchange(socket, http::verb::get, "/kept", ""), 200u) << "a closed connection was reused";
    return exchange(socket, method, target, std::move(body));
  };
  EXPECT_EQ(afterAKeptConnection(http::verb::get, "/get", ""), 200u);
  EXPECT_EQ(afterAKeptConnection(http::verb::put, "/put", "body"), 502u);
  EXPECT_EQ(afterAKeptConnection(http::verb::post, "/post", ""), 502u);
  EXPECT_EQ(proxy.Stop(), 0);
}

// Pausing is the admin endpoint's one change of state: only the dashboard's
// page, which alone holds the token, may ask for it; it holds at once, on a
// connection already open too, and ends as soon.
TEST_F(DntProxyThreats, TakesPausesOnlyFromItsOwnDashboardAndAtOnce) {
  auto arguments = MapHosts({"connect.facebook.net"}, m_origin.Port());
  arguments.insert(arguments.end(), {"--block", "social"});
  ProxyProcess proxy = Start(arguments);
  const std::string token = proxy.AdminToken(), dashboard = "http://127.0.0.1:" + std::to_string(proxy.AdminPort());
  ASSERT_EQ(token.size(), 32u);
  net::io_context io;
  tcp::socket socket(io);
  socket.connect({net::ip::address_v4::loopback(), proxy.Port()});
  boost::beast::flat_buffer buffer;
  const auto tracker = [&] {
    http::request<http::empty_body> request(http::verb::get, "http://connect.facebook.net/en_US/fbevents.js", 11);
    request.set(http::field::referer, "http://www.shop.test/cart");
    request.set(http::field::cookie, "c=1");
    http::write(socket, request);
    http::response<http::string_body> answer;
    http::read(socket, buffer, answer);
    return answer.result_int();
  };
  ASSERT_EQ(tracker(), 403u);

  const struct {
    const char* what;
    std::string token, origin;
    unsigned status;
  } cases[] = {{"no token", "", dashboard, 403},
               {"a wrong token", std::string(32, '0'), "", 403},
               {"another site's page", token, "http://evil.test", 403},
               {"the dashboard", token, dashboard, 200}};
  for (const auto& c : cases) {
    EXPECT_EQ(StatusOf(proxy.Pause("shop.test", true, c.token, c.origin)), c.status) << c.what;
    if (c.status != 200) {
      EXPECT_EQ(proxy.Admin("/api/paused"), R"({"paused":{"requests":0,"sites":[]}})") << c.what;
    }
  }
  EXPECT_EQ(StatusOf(proxy.Pause("not a site!", true, token)), 400u);
  EXPECT_EQ(tracker(), 200u);
  const auto reached = ReceivedAt(m_origin, "/en_US/fbevents.js");
  ASSERT_EQ(reached.size(), 1u);
  EXPECT_EQ(FieldOf(reached[0], "Cookie"), "c=1");
  EXPECT_EQ(FieldOf(reached[0], "Referer"), "http://www.shop.test/cart");

  const nlohmann::json stats = proxy.Stats();
  EXPECT_EQ(stats["paused"], nlohmann::json::parse(R"({"requests": 1, "sites": ["shop.test"]})"));
  ASSERT_EQ(stats["recentSites"].size(), 1u);
  EXPECT_EQ(stats["recentSites"][0]["site"], "shop.test");
  EXPECT_EQ(stats["recentSites"][0]["blocked"], 1);
  EXPECT_EQ(stats["recentSites"][0]["pausedRequests"], 1);
  const std::string metrics = proxy.Admin("/metrics");
  for (const char* sample : {"\ndnt_proxy_paused_sites 1\n", "\ndnt_proxy_paused_site{site=\"shop.test\"} 1\n",
                             "\ndnt_proxy_paused_requests_total 1\n"}) {
    EXPECT_NE(metrics.find(sample), std::string::npos) << sample << metrics;
  }

  EXPECT_EQ(StatusOf(proxy.Pause("www.shop.test", false, token)), 200u);
  EXPECT_EQ(tracker(), 403u);
  EXPECT_EQ(proxy.Stop(), 0);
  EXPECT_TRUE(proxy.AwaitLog(" pause protection paused on shop.test"));
  EXPECT_TRUE(proxy.AwaitLog(" resume protection resumed on shop.test"));
}

}  // namespace
