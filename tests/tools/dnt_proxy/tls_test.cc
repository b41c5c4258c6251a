// dnt-proxy --intercept between curl and local TLS origins: the tunnels the
// engine asks to see are decrypted and their requests suppressed like plain
// ones, the others stay blind, a server whose certificate does not verify is
// never talked to, and the local certificate authority and its leaves are
// made and kept as promised.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include "squeeze/whole_file.h"
#include "tests/tools/dnt_proxy/proxy_process.h"

namespace {

namespace fs = std::filesystem;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using local_origin::LocalOrigin;
using namespace proxy_test;
using tools_test::Quoted;

// One GET through a tunnel to `connect`, asking for `sni` and offering
// `session`, which then holds the session to resume next; the status line,
// or "no handshake".
struct TunnelGet {
  std::string status;
  bool resumed = false;
};

TunnelGet GetThroughTunnel(uint16_t port, const fs::path& authority, const std::string& connect, const std::string& sni,
                           std::shared_ptr<SSL_SESSION>& session) {
  net::io_context io;
  ssl::context context(ssl::context::tls_client);
  context.load_verify_file(authority.string());
  ssl::stream<tcp::socket> stream(io, context);
  stream.set_verify_mode(ssl::verify_peer);
  stream.next_layer().connect({net::ip::address_v4::loopback(), port});
  net::write(stream.next_layer(), net::buffer("CONNECT " + connect + ":443 HTTP/1.1\r\n\r\n"));
  net::streambuf established;
  net::read_until(stream.next_layer(), established, "\r\n\r\n");
  SSL_set_tlsext_host_name(stream.native_handle(), sni.c_str());
  if (session) SSL_set_session(stream.native_handle(), session.get());
  boost::system::error_code error;
  stream.handshake(ssl::stream_base::client, error);
  if (error) return {"no handshake"};
  TunnelGet got{"", SSL_session_reused(stream.native_handle()) == 1};
  net::write(stream, net::buffer("GET /resumed HTTP/1.1\r\nHost: " + sni + "\r\nConnection: close\r\n\r\n"));
  net::streambuf answer;
  net::read_until(stream, answer, "\r\n", error);
  const std::string text(net::buffers_begin(answer.data()), net::buffers_end(answer.data()));
  got.status = text.substr(0, text.find("\r\n"));
  // The session tickets of TLS 1.3 come after the handshake; a session
  // stays resumable once its connection is shut down.
  stream.shutdown(error);
  session.reset(SSL_get1_session(stream.native_handle()), SSL_SESSION_free);
  return got;
}

using DntProxyTls = ProxyTest;

TEST_F(DntProxyTls, MakesItsAuthorityOnceAndKeepsItsKeyPrivate) {
  const fs::path authority = m_scratch.path() / "made";
  const auto made = Run(Quoted(DNT_PROXY_PATH) + " ca init " + Quoted(authority.string()));
  ASSERT_EQ(made.exitCode, 0) << made.err;
  struct stat key {};
  ASSERT_EQ(stat((authority / "ca.key").c_str(), &key), 0);
  EXPECT_EQ(key.st_mode & 0777, 0600u);
  const std::string certificate = Quoted((authority / "ca.crt").string());
  const auto text = Run("openssl x509 -noout -text -in " + certificate);
  EXPECT_NE(text.out.find("CA:TRUE"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("ASN1 OID: prime256v1"), std::string::npos) << text.out;
  EXPECT_EQ(Run("openssl x509 -noout -checkend $((3650 * 86400)) -in " + certificate).exitCode, 0)
      << "the authority does not last ten years";

  const auto before = squeeze::ReadWholeFile((authority / "ca.key").string());
  const auto again = Run(Quoted(DNT_PROXY_PATH) + " ca init " + Quoted(authority.string()));
  EXPECT_NE(again.exitCode, 0);
  EXPECT_NE(again.err.find("never overwritten"), std::string::npos) << again.err;
  EXPECT_EQ(squeeze::ReadWholeFile((authority / "ca.key").string()), before);

  // A key others may read is not used.
  fs::permissions(authority / "ca.key", fs::perms::group_read, fs::perm_options::add);
  const auto loose = Run(Quoted(DNT_PROXY_PATH) + " --listen 127.0.0.1:0 --admin off --intercept " + Quoted(authority.string()));
  EXPECT_NE(loose.exitCode, 0);
  EXPECT_NE(loose.err.find("(mode 0640): make it 0600"), std::string::npos) << loose.err;
}

TEST_F(DntProxyTls, DecryptsWhatTheEngineAsksToSeeAndRefusesServersThatDoNotVerify) {
  const auto web = MakeWebCertificates(m_scratch.path() / "web", {"shop.test", "match.adsrvr.org", "script.crazyegg.com"},
                                       "self.google-analytics.com");
  LocalOrigin origin(0, 1, web.origin);
  LocalOrigin selfSigned(0, 1, web.selfSigned);
  const fs::path authority = m_scratch.path() / "proxy-ca";
  ASSERT_EQ(Run(Quoted(DNT_PROXY_PATH) + " ca init " + Quoted(authority.string())).exitCode, 0);
  // Port 80 for the tunnel that carries plain HTTP.
  std::vector<std::string> arguments = {"--block", "ad", "--intercept", authority.string(), "--upstream-ca",
                                        web.authority.string(), "--leaf-cache", "2", "--connect-port", "80"};
  for (const auto& mapped : {MapHosts({"self.google-analytics.com"}, selfSigned.Port()),
                             MapHosts({"plain.google-analytics.com"}, m_origin.Port()),
                             MapHosts({"*.test", "match.adsrvr.org", "script.crazyegg.com", "wrong.google-analytics.com"},
                                      origin.Port())}) {
    arguments.insert(arguments.end(), mapped.begin(), mapped.end());
  }
  ProxyProcess proxy = Start(arguments);
  const std::string trustingProxy = "--cacert " + Quoted((authority / "ca.crt").string()) + " ";
  const std::string trustingWeb = "--cacert " + Quoted(web.authority.string()) + " ";

  // A blocked tracker over HTTPS: answered inside the tunnel, never sent;
  // HTTP/2 is asked for, HTTP/1.1 is all the proxy speaks.
  EXPECT_EQ(Curl(proxy, trustingProxy + "--http2 -o /dev/null -w '%{http_code} %{http_version}' "
                                        "https://match.adsrvr.org/track/x").out,
            "403 1.1");
  EXPECT_TRUE(ReceivedAt(origin, "/track/x").empty()) << "a blocked request reached the server";

  // A detected tracker: stripped both ways, sent on over verified TLS.
  const auto stripped = Curl(proxy, trustingProxy + "-D - -o /dev/null -H 'Cookie: uid=42' "
                                                    "-H 'Referer: https://shop.test/cart' https://script.crazyegg.com/pages/x.js");
  EXPECT_NE(stripped.out.find(" 200"), std::string::npos) << stripped.out << stripped.err;
  EXPECT_EQ(stripped.out.find("Set-Cookie"), std::string::npos) << stripped.out;
  const auto atTracker = ReceivedAt(origin, "/pages/x.js");
  ASSERT_EQ(atTracker.size(), 1u);
  for (const auto& [name, value] : {std::pair{"Cookie", "(none)"}, {"Referer", "(none)"}, {"Host", "script.crazyegg.com"},
                                    {"Via", "1.1 dnt-proxy"}}) {
    EXPECT_EQ(FieldOf(atTracker[0], name), value) << name;
  }

  // The site itself is tunnelled blind: the client verifies the origin's own
  // certificate, and the proxy never reads what goes through. So is a client
  // that speaks no TLS in a tunnel the engine asks to see.
  EXPECT_EQ(Curl(proxy, trustingWeb + "-o /dev/null -w '%{http_code}' https://shop.test/inside").out, "200");
  EXPECT_EQ(Curl(proxy, "-p -o /dev/null -w '%{http_code}' http://plain.google-analytics.com/plain").out, "200");
  for (const auto& inside : {ReceivedAt(origin, "/inside"), ReceivedAt(m_origin, "/plain")}) {
    ASSERT_EQ(inside.size(), 1u);
    EXPECT_EQ(FieldOf(inside[0], "Via"), "(none)") << "the proxy read inside the tunnel";
  }

  // Servers whose certificate does not verify: a page says why, and nothing
  // reaches them.
  for (const auto& [url, why] : {std::pair{"https://wrong.google-analytics.com/wrong", "hostname mismatch"},
                                 {"https://self.google-analytics.com/self", "self-signed certificate"}}) {
    const auto refused = Curl(proxy, trustingProxy + "-w '[%{http_code}]' " + url);
    EXPECT_NE(refused.out.find(std::string("its certificate does not verify: ") + why), std::string::npos) << refused.out;
    EXPECT_NE(refused.out.find("[502]"), std::string::npos) << refused.out;
  }
  EXPECT_TRUE(ReceivedAt(origin, "/wrong").empty());
  EXPECT_TRUE(selfSigned.Received().empty());

  // A client that does not trust the proxy's authority refuses the leaf.
  EXPECT_EQ(Curl(proxy, trustingWeb + "https://match.adsrvr.org/refused").exitCode, 60);
  EXPECT_TRUE(proxy.AwaitLog("): the client refused the certificate made for match.adsrvr.org: tlsv1 alert unknown ca",
                             1, std::chrono::seconds(5)));

  // Through a tunnel to a tracker no other name is decrypted.
  EXPECT_NE(Curl(proxy, trustingProxy + "--connect-to shop.test:443:match.adsrvr.org:443 https://shop.test/other").exitCode, 0);
  EXPECT_TRUE(proxy.AwaitLog("): the client asked for shop.test inside the tunnel to match.adsrvr.org", 1,
                             std::chrono::seconds(5)));

  // A server name no certificate could carry is logged as it came, on one
  // line: it cannot forge another.
  const std::string forged = "x\r\n2030-01-01T00:00:00.000Z blocked GET http://forged.test/";
  {
    net::io_context io;
    ssl::context context(ssl::context::tls_client);
    ssl::stream<tcp::socket> stream(io, context);
    stream.next_layer().connect({net::ip::address_v4::loopback(), proxy.Port()});
    net::write(stream.next_layer(), net::buffer(std::string("CONNECT match.adsrvr.org:443 HTTP/1.1\r\n\r\n")));
    net::streambuf established;
    net::read_until(stream.next_layer(), established, "\r\n\r\n");
    ASSERT_EQ(SSL_set_tlsext_host_name(stream.native_handle(), forged.c_str()), 1);
    boost::system::error_code error;
    stream.handshake(ssl::stream_base::client, error);
    EXPECT_TRUE(error);
  }
  EXPECT_TRUE(proxy.AwaitLog("the client asked for the invalid server name \"x\\r\\n2030-01-01T00:00:00.000Z blocked GET "
                             "http://forged.test/\"", 1, std::chrono::seconds(5)));

  // Four names asked for through a cache of two: the first came back after
  // it had gone, and was made again; a name still kept costs no new leaf.
  ASSERT_EQ(Curl(proxy, trustingProxy + "-o /dev/null https://self.google-analytics.com/again").exitCode, 0);
  EXPECT_EQ(proxy.Stats()["tls"], nlohmann::json::parse(R"({"intercepting": true, "blindTunnels": 2, "interceptions": 5,
      "resumptions": 0, "clientFailures": 3, "serverFailures": 3, "leafCache": {"capacity": 2, "size": 2, "minted": 5, "hits": 1}})"));

  EXPECT_EQ(proxy.Stop(), 0);
  for (const char* line : {" upstream-error https://wrong.google-analytics.com/wrong (client ",
                           "not processed (tunnel)", "verdict match.adsrvr.org (client ",
                           "): blocked, The Trade Desk (ad agency)"}) {
    EXPECT_TRUE(proxy.AwaitLog(line)) << line;
  }
}


// Clients resume their TLS sessions with the proxy on every connection after
// the first to a server, and then send no certificate request for a leaf:
// the server is still the tunnel's.
TEST_F(DntProxyTls, KnowsTheServerOfAResumedSession) {
  const auto web = MakeWebCertificates(m_scratch.path() / "web", {"match.adsrvr.org", "script.crazyegg.com"}, "unused.test");
  LocalOrigin origin(0, 1, web.origin);
  const fs::path authority = m_scratch.path() / "proxy-ca";
  ASSERT_EQ(Run(Quoted(DNT_PROXY_PATH) + " ca init " + Quoted(authority.string())).exitCode, 0);
  std::vector<std::string> arguments = {"--block", "ad", "--intercept", authority.string(), "--upstream-ca",
                                        web.authority.string()};
  const auto mapped = MapHosts({"match.adsrvr.org", "script.crazyegg.com"}, origin.Port());
  arguments.insert(arguments.end(), mapped.begin(), mapped.end());
  ProxyProcess proxy = Start(arguments);
  const std::string trustingProxy = "--cacert " + Quoted((authority / "ca.crt").string()) + " ";

  // curl resumes its first tunnel's session in the second.
  EXPECT_EQ(Curl(proxy, trustingProxy + "-H 'Connection: close' -o /dev/null -o /dev/null -w '[%{http_code}]' "
                                        "https://match.adsrvr.org/a https://match.adsrvr.org/b").out,
            "[403][403]");
  EXPECT_EQ(Curl(proxy, trustingProxy + "-H 'Connection: close' -o /dev/null -o /dev/null -w '[%{http_code}]' "
                                        "https://script.crazyegg.com/a https://script.crazyegg.com/b").out,
            "[200][200]");
  const auto received = origin.Received();
  ASSERT_EQ(received.size(), 2u);
  for (const auto& request : received) EXPECT_EQ(FieldOf(request, "Host"), "script.crazyegg.com");

  // A session resumes in a tunnel to its own server only, and a name other
  // than the tunnel's is refused, resumed or not.
  std::shared_ptr<SSL_SESSION> session;
  const std::string Blocked = "HTTP/1.1 403 Forbidden";
  EXPECT_EQ(GetThroughTunnel(proxy.Port(), authority / "ca.crt", "match.adsrvr.org", "match.adsrvr.org", session).status,
            Blocked);
  ASSERT_TRUE(session);
  auto mine = session;
  const auto resumed = GetThroughTunnel(proxy.Port(), authority / "ca.crt", "match.adsrvr.org", "match.adsrvr.org", session);
  EXPECT_EQ(resumed.status, Blocked);
  EXPECT_TRUE(resumed.resumed);
  EXPECT_EQ(GetThroughTunnel(proxy.Port(), authority / "ca.crt", "script.crazyegg.com", "match.adsrvr.org", mine).status,
            "no handshake");
  EXPECT_TRUE(proxy.AwaitLog("): the client asked for match.adsrvr.org inside the tunnel to script.crazyegg.com", 1,
                             std::chrono::seconds(5)));
  session = mine = nullptr;
  GetThroughTunnel(proxy.Port(), authority / "ca.crt", "match.adsrvr.org", "match.adsrvr.org", mine);
  const auto elsewhere =
      GetThroughTunnel(proxy.Port(), authority / "ca.crt", "script.crazyegg.com", "script.crazyegg.com", mine);
  EXPECT_EQ(elsewhere.status, "HTTP/1.1 200 OK");
  EXPECT_FALSE(elsewhere.resumed) << "a session made in a tunnel to one server resumed in a tunnel to another";
  EXPECT_GE(proxy.Stats()["tls"]["resumptions"], 3);
  EXPECT_EQ(proxy.Stop(), 0);
}

}  // namespace
