// dnt-proxy --intercept between curl and local TLS origins: the tunnels the
// engine asks to see are decrypted and their requests suppressed like plain
// ones, the others stay blind, a server whose certificate does not verify is
// never talked to, and the local certificate authority and its leaves are
// made and kept as promised.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/tools/dnt_proxy/proxy_process.h"
#include "tests/tools/dnt_proxy/web_certificates.h"
#include "tests/tools/program_run.h"
#include "tools/local_origin/local_origin.h"

namespace {

namespace fs = std::filesystem;
using local_origin::LocalOrigin;
using proxy_test::FieldOf;
using proxy_test::ProxyProcess;
using proxy_test::ReceivedAt;
using tools_test::Quoted;

class DntProxyTls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch = tools_test::MakeScratchDirectory("dnt_proxy_tls");
    web = proxy_test::MakeWebCertificates(scratch / "web", {"shop.test", "match.adsrvr.org", "script.crazyegg.com"},
                                          "self.google-analytics.com");
  }
  static void TearDownTestSuite() { fs::remove_all(scratch); }

  static tools_test::ProgramRun Run(const std::string& command) { return tools_test::RunProgram(command, scratch); }

  static std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static inline fs::path scratch;
  static inline proxy_test::WebCertificates web;
};

TEST_F(DntProxyTls, MakesItsAuthorityOnceAndKeepsItsKeyPrivate) {
  const fs::path authority = scratch / "made";
  const auto made = Run(Quoted(DNT_PROXY_PATH) + " ca init " + Quoted(authority.string()));
  ASSERT_EQ(made.exitCode, 0) << made.err;
  struct stat key {};
  ASSERT_EQ(stat((authority / "ca.key").c_str(), &key), 0);
  EXPECT_EQ(key.st_mode & 0777, 0600u);
  const auto certificate = Run("openssl x509 -noout -text -in " + Quoted((authority / "ca.crt").string()));
  EXPECT_NE(certificate.out.find("CA:TRUE"), std::string::npos) << certificate.out;
  EXPECT_NE(certificate.out.find("ASN1 OID: prime256v1"), std::string::npos) << certificate.out;
  const auto days = Run("openssl x509 -noout -checkend $((3650 * 86400)) -in " + Quoted((authority / "ca.crt").string()));
  EXPECT_EQ(days.exitCode, 0) << "the authority does not last ten years";

  const std::string before = ReadFile(authority / "ca.key");
  const auto again = Run(Quoted(DNT_PROXY_PATH) + " ca init " + Quoted(authority.string()));
  EXPECT_NE(again.exitCode, 0);
  EXPECT_NE(again.err.find("never overwritten"), std::string::npos) << again.err;
  EXPECT_EQ(ReadFile(authority / "ca.key"), before);

  // A key others may read is not used.
  fs::permissions(authority / "ca.key", fs::perms::group_read, fs::perm_options::add);
  const auto loose = Run(Quoted(DNT_PROXY_PATH) + " --listen 127.0.0.1:0 --admin off --intercept " + Quoted(authority.string()));
  EXPECT_NE(loose.exitCode, 0);
  EXPECT_NE(loose.err.find("(mode 0640): make it 0600"), std::string::npos) << loose.err;
}

TEST_F(DntProxyTls, DecryptsWhatTheEngineAsksToSeeAndRefusesServersThatDoNotVerify) {
  LocalOrigin origin(0, 1, web.origin);
  LocalOrigin selfSigned(0, 1, web.selfSigned);
  LocalOrigin plainOrigin;
  const fs::path authority = scratch / "proxy-ca";
  ASSERT_EQ(Run(Quoted(DNT_PROXY_PATH) + " ca init " + Quoted(authority.string())).exitCode, 0);
  const std::string at = "=127.0.0.1:" + std::to_string(origin.Port());
  ProxyProcess proxy({"--block", "ad", "--intercept", authority.string(), "--upstream-ca", web.authority.string(),
                      "--leaf-cache", "2", "--map-host", "self.google-analytics.com=127.0.0.1:" + std::to_string(selfSigned.Port()),
                      "--map-host", "*.test" + at, "--map-host", "match.adsrvr.org" + at, "--map-host",
                      "script.crazyegg.com" + at, "--map-host", "wrong.google-analytics.com" + at, "--map-host",
                      "plain.google-analytics.com=127.0.0.1:" + std::to_string(plainOrigin.Port())},
                     scratch / "intercept.log");
  const std::string viaProxy = "curl -s --max-time 20 -x " + proxy.Url() + " --cacert " + Quoted((authority / "ca.crt").string());
  const auto stats = [&] { return nlohmann::json::parse(proxy.Admin("/api/stats")); };

  // A blocked tracker over HTTPS: answered inside the tunnel, never sent;
  // HTTP/2 is asked for, HTTP/1.1 is all the proxy speaks.
  EXPECT_EQ(Run(viaProxy + " --http2 -o /dev/null -w '%{http_code} %{http_version}' https://match.adsrvr.org/track/x").out,
            "403 1.1");
  EXPECT_TRUE(ReceivedAt(origin, "/track/x").empty()) << "a blocked request reached the server";

  // A detected tracker: stripped both ways, sent on over verified TLS.
  const auto stripped = Run(viaProxy + " -D - -o /dev/null -H 'Cookie: uid=42' -H 'Referer: https://shop.test/cart' "
                                       "https://script.crazyegg.com/pages/x.js");
  EXPECT_NE(stripped.out.find(" 200"), std::string::npos) << stripped.out << stripped.err;
  EXPECT_EQ(stripped.out.find("Set-Cookie"), std::string::npos) << stripped.out;
  const auto atTracker = ReceivedAt(origin, "/pages/x.js");
  ASSERT_EQ(atTracker.size(), 1u);
  EXPECT_EQ(FieldOf(atTracker[0], "Cookie"), "(none)");
  EXPECT_EQ(FieldOf(atTracker[0], "Referer"), "(none)");
  EXPECT_EQ(FieldOf(atTracker[0], "Host"), "script.crazyegg.com");
  EXPECT_EQ(FieldOf(atTracker[0], "Via"), "1.1 dnt-proxy");

  // The site itself is tunnelled blind: the client verifies the origin's own
  // certificate, and the proxy never reads what goes through.
  const auto blind = Run("curl -s --max-time 20 -x " + proxy.Url() + " --cacert " + Quoted(web.authority.string()) +
                         " -o /dev/null -w '%{http_code}' https://shop.test/inside");
  EXPECT_EQ(blind.out, "200") << blind.err;
  const auto inside = ReceivedAt(origin, "/inside");
  ASSERT_EQ(inside.size(), 1u);
  EXPECT_EQ(FieldOf(inside[0], "Via"), "(none)");

  // A client that speaks no TLS in a tunnel the engine asks to see gets
  // it relayed blind.
  EXPECT_EQ(Run("curl -s --max-time 20 -p -x " + proxy.Url() + " -o /dev/null -w '%{http_code}' "
                "http://plain.google-analytics.com/plain").out,
            "200");
  const auto plain = ReceivedAt(plainOrigin, "/plain");
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(FieldOf(plain[0], "Via"), "(none)");

  // Servers whose certificate does not verify: a page says why, and nothing
  // reaches them.
  const auto wrongName = Run(viaProxy + " -w '[%{http_code}]' https://wrong.google-analytics.com/wrong");
  EXPECT_NE(wrongName.out.find("its certificate does not verify: hostname mismatch"), std::string::npos) << wrongName.out;
  EXPECT_NE(wrongName.out.find("[502]"), std::string::npos) << wrongName.out;
  const auto untrusted = Run(viaProxy + " -w '[%{http_code}]' https://self.google-analytics.com/self");
  EXPECT_NE(untrusted.out.find("its certificate does not verify: self-signed certificate"), std::string::npos)
      << untrusted.out;
  EXPECT_NE(untrusted.out.find("[502]"), std::string::npos) << untrusted.out;
  EXPECT_TRUE(ReceivedAt(origin, "/wrong").empty());
  EXPECT_TRUE(selfSigned.Received().empty());

  // A client that does not trust the proxy's authority refuses the leaf.
  const auto refused = Run("curl -s --max-time 20 -x " + proxy.Url() + " --cacert " + Quoted(web.authority.string()) +
                           " https://match.adsrvr.org/refused");
  EXPECT_EQ(refused.exitCode, 60) << "curl: " << refused.exitCode;
  EXPECT_TRUE(proxy.AwaitLog("): the client refused the certificate made for match.adsrvr.org: tlsv1 alert unknown ca",
                             1, std::chrono::seconds(5)));

  // Through a tunnel to a tracker no other name is decrypted.
  const auto otherName = Run(viaProxy + " --connect-to shop.test:443:match.adsrvr.org:443 https://shop.test/other");
  EXPECT_NE(otherName.exitCode, 0);
  EXPECT_TRUE(proxy.AwaitLog("): the client asked for shop.test inside the tunnel to match.adsrvr.org", 1,
                             std::chrono::seconds(5)));

  // Four names asked for through a cache of two: the first came back after
  // it had gone, and was made again; a name still kept costs no new leaf.
  ASSERT_EQ(Run(viaProxy + " -o /dev/null https://self.google-analytics.com/again").exitCode, 0);
  const auto tls = stats()["tls"];
  EXPECT_EQ(tls["leafCache"]["capacity"], 2);
  EXPECT_EQ(tls["leafCache"]["size"], 2);
  EXPECT_EQ(tls["leafCache"]["minted"], 5);
  EXPECT_EQ(tls["leafCache"]["hits"], 1);
  EXPECT_EQ(tls["interceptions"], 5);
  EXPECT_EQ(tls["blindTunnels"], 2);
  EXPECT_EQ(tls["clientFailures"], 2);
  EXPECT_EQ(tls["serverFailures"], 3);

  EXPECT_EQ(proxy.Stop(), 0);
  EXPECT_TRUE(proxy.AwaitLog(" upstream-error https://wrong.google-analytics.com/wrong (client ", 1, std::chrono::seconds(1)));
  EXPECT_TRUE(proxy.AwaitLog("verdict match.adsrvr.org (client ", 1, std::chrono::seconds(1)));
  EXPECT_TRUE(proxy.AwaitLog("): blocked, The Trade Desk (ad agency)", 1, std::chrono::seconds(1)));
}

}  // namespace
