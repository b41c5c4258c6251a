// A real browser and dnt-proxy: headless Chromium loads a page of the local
// origin that embeds trackers known to the default bases, over HTTP and over
// HTTPS with the proxy's authority trusted. The page renders; the ad
// trackers never reach their servers, and the analytics script that does
// arrives without the page's address. Chromium also shows the proxy's
// dashboard, whose numbers and charts must be those of /api/stats.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "tests/tools/dnt_proxy/proxy_process.h"
#include "tests/tools/dnt_proxy/web_certificates.h"
#include "tests/tools/program_run.h"
#include "tools/local_origin/local_origin.h"

namespace {

namespace fs = std::filesystem;
using local_origin::Page;
using local_origin::ReceivedRequest;
using proxy_test::FieldOf;
using tools_test::Quoted;

constexpr const char* Html = R"(<!doctype html>
<html><head><title>A shop</title>
<script src="@SCHEME://match.adsrvr.org/track/cmf/generic"></script>
<script src="@SCHEME://script.crazyegg.com/pages/scripts/0011/1234.js"></script>
</head><body><p id="state">loading</p>
<img src="@SCHEME://px.steelhousemedia.com/st?id=1" width="1" height="1">
<script src="@SCHEME://shop.test/app.js"></script>
</body></html>
)";

constexpr const char* App = R"(document.getElementById("state").textContent =
    "rendered" + (window.adRan ? " ad-ran" : "") + (window.analyticsRan ? " analytics-ran" : "");)";

constexpr const char* Trackers[] = {"match.adsrvr.org", "script.crazyegg.com", "px.steelhousemedia.com"};

Page Script(const std::string& body) {
  Page page;
  page.contentType = "text/javascript";
  page.body = body;
  return page;
}

std::vector<ReceivedRequest> At(const local_origin::LocalOrigin& origin, const std::string& host) {
  std::vector<ReceivedRequest> found;
  for (const ReceivedRequest& request : origin.Received()) {
    if (FieldOf(request, "Host") == host) found.push_back(request);
  }
  return found;
}

class DntProxyBrowser : public ::testing::Test {
 protected:
  void SetUp() override {
    if (tools_test::RunProgram("command -v chromium", fs::temp_directory_path()).exitCode != 0) {
      GTEST_SKIP() << "chromium is not installed (scripts/bootstrap.sh installs it)";
    }
    m_scratch = tools_test::MakeScratchDirectory("dnt_proxy_browser");
  }
  void TearDown() override { fs::remove_all(m_scratch); }

  // The shop's page and scripts on `origin`, its resources named with
  // `scheme`.
  static void ServeShop(local_origin::LocalOrigin& origin, const std::string& scheme) {
    Page page;
    page.body = std::regex_replace(Html, std::regex("@SCHEME"), scheme);
    origin.Serve("/", page);
    origin.Serve("/app.js", Script(App));
    origin.Serve("/track/cmf/generic", Script("window.adRan = true;"));
    origin.Serve("/pages/scripts/0011/1234.js", Script("window.analyticsRan = true;"));
  }

  static std::vector<std::string> MapToOrigin(const local_origin::LocalOrigin& origin, std::vector<std::string> arguments) {
    const std::string at = "=127.0.0.1:" + std::to_string(origin.Port());
    for (const std::string host : {"*.test", Trackers[0], Trackers[1], Trackers[2]}) {
      arguments.insert(arguments.end(), {"--map-host", host + at});
    }
    return arguments;
  }

  // Chromium, headless and bounded in time, dumping the page at `url` once
  // its scripts have run; `environment` goes before it on the command line.
  tools_test::ProgramRun Chromium(const std::string& url, const std::string& options, const std::string& environment = "") {
    return tools_test::RunProgram(
        environment +
            " timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
            "--disable-background-networking --disable-component-update --disable-sync --user-data-dir=" +
            Quoted((m_scratch / "profile").string()) + " " + options + " --dump-dom " + url,
        m_scratch);
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

  fs::path m_scratch;
};

TEST_F(DntProxyBrowser, PageRendersWithItsTrackersBlockedOrStripped) {
  local_origin::LocalOrigin origin;
  ServeShop(origin, "http");
  proxy_test::ProxyProcess proxy(MapToOrigin(origin, {"--block", "ad"}), m_scratch / "proxy.log");

  ExpectShopProtected(Chromium("http://shop.test/", "--proxy-server=" + proxy.Url()), origin);
  const auto app = At(origin, "shop.test");
  ASSERT_GE(app.size(), 2u);
  EXPECT_NE(FieldOf(app.back(), "Referer"), "(none)") << "the site's own script lost its Referer";

  EXPECT_EQ(proxy.Stop(), 0);
  EXPECT_TRUE(proxy.AwaitLog("): blocked, The Trade Desk (ad agency)", 1, std::chrono::seconds(1)));
  EXPECT_TRUE(proxy.AwaitLog("): detected, Crazy Egg (web analytics)", 1, std::chrono::seconds(1)));
}

// The browser trusts the proxy's authority, and the web's, in an NSS
// database of a home of its own.
TEST_F(DntProxyBrowser, HttpsPageRendersWithItsTrackersDecryptedAndBlocked) {
  const auto web = proxy_test::MakeWebCertificates(m_scratch / "web", {"shop.test", Trackers[0], Trackers[1], Trackers[2]},
                                                   "unused.test");
  local_origin::LocalOrigin origin(0, 1, web.origin);
  ServeShop(origin, "https");
  const fs::path authority = m_scratch / "proxy-ca", home = m_scratch / "home", nss = home / ".pki" / "nssdb";
  fs::create_directories(nss);
  const std::string database = " -d " + Quoted("sql:" + nss.string());
  const auto trusted = tools_test::RunProgram(
      Quoted(DNT_PROXY_PATH) + " ca init " + Quoted(authority.string()) + " && certutil -N --empty-password" + database +
          " && certutil -A -t C,, -n dnt-proxy -i " + Quoted((authority / "ca.crt").string()) + database +
          " && certutil -A -t C,, -n web -i " + Quoted(web.authority.string()) + database,
      m_scratch);
  ASSERT_EQ(trusted.exitCode, 0) << trusted.err;
  proxy_test::ProxyProcess proxy(
      MapToOrigin(origin, {"--block", "ad", "--intercept", authority.string(), "--upstream-ca", web.authority.string()}),
      m_scratch / "proxy.log");

  ExpectShopProtected(Chromium("https://shop.test/", "--proxy-server=" + proxy.Url(), "HOME=" + Quoted(home.string())),
                      origin);

  EXPECT_EQ(proxy.Stop(), 0);
  EXPECT_TRUE(proxy.AwaitLog(" intercept match.adsrvr.org:443 (client ", 1, std::chrono::seconds(1)));
  EXPECT_TRUE(proxy.AwaitLog(" tunnel shop.test:443 (client ", 1, std::chrono::seconds(1)));
  EXPECT_FALSE(proxy.AwaitLog(" intercept shop.test", 1, std::chrono::seconds(0))) << "the site itself was decrypted";
  EXPECT_TRUE(proxy.AwaitLog("): blocked, The Trade Desk (ad agency)", 1, std::chrono::seconds(1)));
}

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

TEST_F(DntProxyBrowser, DashboardShowsWhatTheProxyDid) {
  local_origin::LocalOrigin origin;
  proxy_test::ProxyProcess proxy(MapToOrigin(origin, {"--block", "ad"}), m_scratch / "proxy.log");
  const std::string curl = "curl -s -o /dev/null --max-time 10 -x " + proxy.Url();
  const auto run = tools_test::RunProgram(
      curl + " http://shop.test/a http://shop.test/b http://match.adsrvr.org/track/1 http://match.adsrvr.org/track/2 && " +
          curl + " -H 'Cookie: id=1' http://script.crazyegg.com/s.js http://script.crazyegg.com/t.js && " + curl +
          " http://px.steelhousemedia.com/st?id=1",
      m_scratch);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Every session has ended and been counted once no connection is open.
  nlohmann::json stats;
  for (int i = 0; i < 100 && (stats.empty() || stats["connectionsOpen"] != 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stats = nlohmann::json::parse(proxy.Admin("/api/stats"));
  }
  ASSERT_EQ(stats["requests"]["total"], 7);

  const std::string admin = "http://127.0.0.1:" + std::to_string(proxy.AdminPort()) + "/";
  const auto browser = Chromium(admin, "--virtual-time-budget=3000");
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
  EXPECT_EQ(stats["blocked"], 3);
  const std::regex blockedRow("<td class=\"url\" title=\"[^\"]*\">GET http://[^<]*</td>");
  EXPECT_EQ(std::distance(std::sregex_iterator(page.begin(), page.end(), blockedRow), std::sregex_iterator()),
            static_cast<long>(stats["recentBlocked"].size()));

  // Read-only, and only for requests that name it by its address.
  const std::string host = "Host: 127.0.0.1:" + std::to_string(proxy.AdminPort()) + "\r\n";
  EXPECT_EQ(proxy_test::StatusOf(proxy_test::RawExchange(proxy.AdminPort(), "POST /api/stats HTTP/1.1\r\n" + host +
                                                                              "Content-Length: 0\r\nConnection: close\r\n\r\n")),
            405u);
  EXPECT_EQ(proxy_test::StatusOf(proxy_test::RawExchange(
                proxy.AdminPort(), "GET /api/stats HTTP/1.1\r\nHost: rebound.example:" +
                                       std::to_string(proxy.AdminPort()) + "\r\nConnection: close\r\n\r\n")),
            421u);
  EXPECT_EQ(proxy.Stop(), 0);
}

}  // namespace
