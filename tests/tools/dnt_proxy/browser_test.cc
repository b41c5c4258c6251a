// A real browser and dnt-proxy: headless Chromium loads two pages of the
// local origin (one in a frame of the other) that embed trackers known to
// the default bases, over HTTP and over HTTPS with the proxy's authority
// trusted. The page renders; the ad trackers never reach their servers, and
// the analytics script that does arrives without the page's address; over
// HTTPS, the browser's resumed TLS sessions still reach the tracker's name.
// Chromium also shows the proxy's dashboard, whose numbers and charts must
// be those of /api/stats, and the site paused there loads as if the proxy
// were not there, while a page of another site cannot pause one.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "tests/tools/dnt_proxy/proxy_process.h"

namespace {

namespace fs = std::filesystem;
using local_origin::Page;
using local_origin::ReceivedRequest;
using namespace proxy_test;
using tools_test::Quoted;

constexpr const char* Html = R"html(<!doctype html>
<html><head><title>A shop</title>
<script src="@SCHEME://match.adsrvr.org/track/cmf/generic"></script>
<script src="@SCHEME://script.crazyegg.com/pages/scripts/0011/1234.js"></script>
</head><body><p id="state">loading</p>
<img src="@SCHEME://px.steelhousemedia.com/st?id=1" onerror="openSecond()" onload="openSecond()">
<script>function openSecond() {
  const frame = document.createElement("iframe");
  frame.src = "@SCHEME://shop.test/second";
  document.body.appendChild(frame);
}</script>
<script src="@SCHEME://shop.test/app.js"></script>
</body></html>
)html";

// The shop's second page, opened in a frame of the first once the first
// page's pixel is done: it calls the tracker four times at once, on that
// pixel's connection and on new ones.
constexpr const char* SecondHtml = R"(<!doctype html>
<html><body><script>
for (const id of [2, 3, 4, 5]) fetch("@SCHEME://px.steelhousemedia.com/st?id=" + id, {mode: "no-cors", credentials: "include"}).catch(() => {});
</script></body></html>
)";

constexpr const char* App = R"(document.getElementById("state").textContent =
    "rendered" + (window.adRan ? " ad-ran" : "") + (window.analyticsRan ? " analytics-ran" : "");)";

const std::vector<std::string> Hosts = {"shop.test", "match.adsrvr.org", "script.crazyegg.com", "px.steelhousemedia.com"};

std::vector<ReceivedRequest> At(const local_origin::LocalOrigin& origin, const std::string& host) {
  std::vector<ReceivedRequest> found;
  for (const ReceivedRequest& request : origin.Received()) {
    if (FieldOf(request, "Host") == host) found.push_back(request);
  }
  return found;
}

class DntProxyBrowser : public ProxyTest {
 protected:
  void SetUp() override {
    if (Run("command -v chromium").exitCode != 0) {
      GTEST_SKIP() << "chromium is not installed (scripts/bootstrap.sh installs it)";
    }
  }

  // The shop's page and scripts on `origin`, its resources named with
  // `scheme`; dnt-proxy blocking ads, with `more` arguments, sending the
  // shop's hosts there.
  ProxyProcess StartShop(local_origin::LocalOrigin& origin, const std::string& scheme,
                         std::vector<std::string> more = {}) const {
    origin.Serve("/", {Page().contentType, std::regex_replace(Html, std::regex("@SCHEME"), scheme), {}});
    origin.Serve("/second", {Page().contentType, std::regex_replace(SecondHtml, std::regex("@SCHEME"), scheme), {}});
    origin.Serve("/app.js", {"text/javascript", App, {}});
    origin.Serve("/track/cmf/generic", {"text/javascript", "window.adRan = true;", {}});
    origin.Serve("/pages/scripts/0011/1234.js", {"text/javascript", "window.analyticsRan = true;", {}});
    const auto mapped = MapHosts(Hosts, origin.Port());
    more.insert(more.end(), {"--block", "ad"});
    more.insert(more.end(), mapped.begin(), mapped.end());
    return Start(more);
  }

  // Chromium, headless and bounded in time, dumping the page at `url` once
  // its scripts have run and the network is quiet; `environment` goes
  // before it on the command line.
  tools_test::ProgramRun Chromium(const std::string& url, const std::string& options, const std::string& environment = "") {
    return Run(environment +
               " timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
               "--disable-background-networking --disable-component-update --disable-sync "
               "--virtual-time-budget=3000 --user-data-dir=" +
               Quoted((m_scratch.path() / "profile").string()) + " " + options + " --dump-dom " + url);
  }

  // The page rendered and its trackers were kept from their servers.
  static void ExpectShopProtected(const tools_test::ProgramRun& browser, const local_origin::LocalOrigin& origin) {
    ASSERT_EQ(browser.exitCode, 0) << browser.err;
    EXPECT_NE(browser.out.find("<p id=\"state\">rendered analytics-ran</p>"), std::string::npos) << browser.out;
    EXPECT_TRUE(At(origin, "match.adsrvr.org").empty()) << "an ad script reached its server";
    EXPECT_TRUE(At(origin, "px.steelhousemedia.com").empty()) << "an ad pixel reached its server";
    const auto analytics = At(origin, "script.crazyegg.com");
    ASSERT_EQ(analytics.size(), 1u);
    EXPECT_EQ(FieldOf(analytics[0], "Referer"), "(none)") << "the tracker learnt the page";
  }
};

// The numbers an element of the dashboard shows, by its data-stat name.
std::string Shown(const std::string& page, const std::string& stat) {
  std::smatch match;
  const std::regex element("data-stat=\"" + stat + "\" data-value=\"([^\"]*)\"");
  return std::regex_search(page, match, element) ? match[1].str() : "(not shown)";
}

// The bars of one chart: name and value, in drawing order.
std::vector<std::pair<std::string, uint64_t>> Bars(const std::string& page, const std::string& kind) {
  std::vector<std::pair<std::string, uint64_t>> bars;
  const std::regex bar("<rect class=\"bar\"[^>]* width=\"([0-9.e+-]+)\"[^>]* data-value=\"([0-9]+)\" data-" + kind +
                       "=\"([^\"]+)\"");
  for (std::sregex_iterator it(page.begin(), page.end(), bar), end; it != end; ++it) {
    const uint64_t value = std::stoull((*it)[2]);
    EXPECT_EQ(std::stod((*it)[1]) > 0, value > 0) << "the bar of " << (*it)[3] << " is drawn wrong";
    bars.emplace_back((*it)[3], value);
  }
  return bars;
}

// The dashboard then shows what the proxy did for the browser.
TEST_F(DntProxyBrowser, PageRendersWithItsTrackersBlockedOrStrippedAndTheDashboardShowsIt) {
  ProxyProcess proxy = StartShop(m_origin, "http");
  ExpectShopProtected(Chromium("http://shop.test/", "--proxy-server=" + proxy.Url()), m_origin);
  const auto app = At(m_origin, "shop.test");
  ASSERT_GE(app.size(), 2u);
  EXPECT_NE(FieldOf(app.back(), "Referer"), "(none)") << "the site's own script lost its Referer";

  // Every session has ended and been counted once no connection is open.
  nlohmann::json stats;
  for (int i = 0; i < 100 && (stats.empty() || stats["connectionsOpen"] != 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stats = proxy.Stats();
  }
  ASSERT_EQ(stats["connectionsOpen"], 0);
  const auto browser = Chromium("http://127.0.0.1:" + std::to_string(proxy.AdminPort()) + "/", "");
  ASSERT_EQ(browser.exitCode, 0) << browser.err;
  const std::string& page = browser.out;
  for (const std::string stat : {"requests.total", "trackerRequests", "blocked", "modified", "sessions.open"}) {
    nlohmann::json value = stats;
    for (std::size_t begin = 0, dot = 0; dot != std::string::npos; begin = dot + 1) {
      dot = stat.find('.', begin);
      value = value[stat.substr(begin, dot - begin)];
    }
    EXPECT_EQ(Shown(page, stat), value.dump()) << stat << " in " << page;
  }
  std::vector<std::pair<std::string, uint64_t>> categories, services;
  for (const auto& category : stats["categories"]) categories.emplace_back(category["name"], category["requests"]);
  for (const auto& service : stats["topServices"]) services.emplace_back(service["name"], service["requests"]);
  EXPECT_EQ(Bars(page, "category"), categories);
  EXPECT_EQ(Bars(page, "service"), services);
  EXPECT_EQ(services.size(), 3u);
  EXPECT_EQ(stats["blocked"], 6);
  const std::regex blockedRow("<td class=\"url\" title=\"[^\"]*\">GET http://[^<]*</td>");
  EXPECT_EQ(std::distance(std::sregex_iterator(page.begin(), page.end(), blockedRow), std::sregex_iterator()),
            static_cast<long>(stats["recentBlocked"].size()));

  // Read-only, and only for requests that name it by its address.
  const std::string port = std::to_string(proxy.AdminPort());
  EXPECT_EQ(StatusOf(RawExchange(proxy.AdminPort(), "POST /api/stats HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                                                        "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")),
            405u);
  EXPECT_EQ(StatusOf(RawExchange(proxy.AdminPort(),
                                 "GET /api/stats HTTP/1.1\r\nHost: rebound.example:" + port + "\r\nConnection: close\r\n\r\n")),
            421u);
  EXPECT_EQ(proxy.Stop(), 0);
}

// A form of another site's page posted to the admin endpoint (as a pause
// request in a text/plain body) changes nothing; a pause from the dashboard
// holds from the next load on, and a resume ends it.
TEST_F(DntProxyBrowser, PausedSiteLoadsUntouchedUntilResumedAndNoOtherSiteCanPauseIt) {
  ProxyProcess proxy = StartShop(m_origin, "http", MapHosts({"evil.test"}, m_origin.Port()));
  const std::string dashboard = "http://127.0.0.1:" + std::to_string(proxy.AdminPort());
  m_origin.Serve("/csrf", {Page().contentType,
                           "<!doctype html><form method=post enctype=text/plain action=\"" + dashboard +
                               "/api/pause\"><input name='{\"site\": \"shop.test\", \"paused\": true, \"x\": \"' "
                               "value='\"}'></form><script>document.forms[0].submit()</script>",
                           {}});
  const auto forged = Chromium("http://evil.test/csrf", "--proxy-server=" + proxy.Url());
  ASSERT_EQ(forged.exitCode, 0) << forged.err;
  EXPECT_NE(forged.out.find("requests from other sites' pages are refused"), std::string::npos) << forged.out;
  EXPECT_EQ(proxy.Stats()["paused"]["sites"], nlohmann::json::array());

  ASSERT_EQ(StatusOf(proxy.Pause("shop.test", true, proxy.AdminToken(), dashboard)), 200u);
  const auto paused = Chromium("http://shop.test/", "--proxy-server=" + proxy.Url());
  ASSERT_EQ(paused.exitCode, 0) << paused.err;
  EXPECT_NE(paused.out.find("<p id=\"state\">rendered ad-ran analytics-ran</p>"), std::string::npos) << paused.out;
  EXPECT_EQ(At(m_origin, "match.adsrvr.org").size(), 1u);
  EXPECT_EQ(At(m_origin, "px.steelhousemedia.com").size(), 5u) << "the second page's pixels were not let through";
  const auto analytics = At(m_origin, "script.crazyegg.com");
  ASSERT_EQ(analytics.size(), 1u);
  EXPECT_EQ(FieldOf(analytics[0], "Referer"), "http://shop.test/");

  const auto shown = Chromium(dashboard + "/", "");
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_NE(shown.out.find("<li data-paused-site=\"shop.test\">shop.test<button class=\"resume\" data-site=\"shop.test\">"),
            std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("<tr data-site=\"shop.test\" class=\"paused\">"), std::string::npos) << shown.out;

  ASSERT_EQ(StatusOf(proxy.Pause("shop.test", false, proxy.AdminToken(), dashboard)), 200u);
  const auto resumed = Chromium("http://shop.test/", "--proxy-server=" + proxy.Url());
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_NE(resumed.out.find("<p id=\"state\">rendered analytics-ran</p>"), std::string::npos) << resumed.out;
  EXPECT_EQ(At(m_origin, "match.adsrvr.org").size(), 1u) << "the ad script reached its server once resumed";
  EXPECT_EQ(At(m_origin, "px.steelhousemedia.com").size(), 5u);
  EXPECT_EQ(proxy.Stop(), 0);
}

// The browser trusts the proxy's authority, and the web's, in an NSS
// database of a home of its own.
TEST_F(DntProxyBrowser, HttpsPageRendersWithItsTrackersDecryptedAndBlocked) {
  const fs::path scratch = m_scratch.path(), authority = scratch / "proxy-ca", nss = scratch / "home/.pki/nssdb";
  const auto web = MakeWebCertificates(scratch / "web", Hosts, "unused.test");
  local_origin::LocalOrigin origin(0, 1, web.origin);
  fs::create_directories(nss);
  const std::string database = " -d " + Quoted("sql:" + nss.string());
  const auto trusted = Run(Quoted(DNT_PROXY_PATH) + " ca init " + Quoted(authority.string()) +
                           " && certutil -N --empty-password" + database + " && certutil -A -t C,, -n dnt-proxy -i " +
                           Quoted((authority / "ca.crt").string()) + database + " && certutil -A -t C,, -n web -i " +
                           Quoted(web.authority.string()) + database);
  ASSERT_EQ(trusted.exitCode, 0) << trusted.err;
  ProxyProcess proxy =
      StartShop(origin, "https", {"--intercept", authority.string(), "--upstream-ca", web.authority.string()});

  ExpectShopProtected(
      Chromium("https://shop.test/", "--proxy-server=" + proxy.Url(), "HOME=" + Quoted((scratch / "home").string())),
      origin);
  // Chromium resumed its TLS session with the proxy on the connections
  // after the first to the tracker: each still went to the tracker's name.
  EXPECT_GT(proxy.Stats()["tls"]["resumptions"], 0);
  for (int pixel = 1; pixel <= 5; ++pixel) {
    EXPECT_TRUE(proxy.AwaitLog(" blocked GET https://px.steelhousemedia.com/st?id=" + std::to_string(pixel) + " "));
  }

  EXPECT_EQ(proxy.Stop(), 0);
  EXPECT_TRUE(proxy.AwaitLog(" intercept match.adsrvr.org:443 (client "));
  EXPECT_TRUE(proxy.AwaitLog(" tunnel shop.test:443 (client "));
  EXPECT_FALSE(proxy.AwaitLog(" intercept shop.test", 1, std::chrono::seconds(0))) << "the site itself was decrypted";
}

}  // namespace
