// A real browser pointed at dnt-proxy: headless Chromium loads a page of the
// local origin that embeds trackers known to the default bases. The page
// renders; the ad trackers never reach their servers, and the analytics
// script that does arrives without the page's address.
#include <gtest/gtest.h>

#include "tests/tools/dnt_proxy/proxy_process.h"
#include "tests/tools/program_run.h"
#include "tools/local_origin/local_origin.h"

namespace {

namespace fs = std::filesystem;
using local_origin::Page;
using local_origin::ReceivedRequest;
using tools_test::Quoted;

constexpr const char* Html = R"(<!doctype html>
<html><head><title>A shop</title>
<script src="http://match.adsrvr.org/track/cmf/generic"></script>
<script src="http://script.crazyegg.com/pages/scripts/0011/1234.js"></script>
</head><body><p id="state">loading</p>
<img src="http://px.steelhousemedia.com/st?id=1" width="1" height="1">
<script src="http://shop.test/app.js"></script>
</body></html>
)";

constexpr const char* App = R"(document.getElementById("state").textContent =
    "rendered" + (window.adRan ? " ad-ran" : "") + (window.analyticsRan ? " analytics-ran" : "");)";

Page Script(const std::string& body) {
  Page page;
  page.contentType = "text/javascript";
  page.body = body;
  return page;
}

std::vector<ReceivedRequest> At(const local_origin::LocalOrigin& origin, const std::string& host) {
  std::vector<ReceivedRequest> found;
  for (const ReceivedRequest& request : origin.Received()) {
    for (const auto& [name, value] : request.fields) {
      if (name == "Host" && value == host) found.push_back(request);
    }
  }
  return found;
}

bool HasField(const ReceivedRequest& request, const std::string& name) {
  for (const auto& field : request.fields) {
    if (field.first == name) return true;
  }
  return false;
}

TEST(DntProxyBrowser, PageRendersWithItsTrackersBlockedOrStripped) {
  if (tools_test::RunProgram("command -v chromium", fs::temp_directory_path()).exitCode != 0) {
    GTEST_SKIP() << "chromium is not installed (scripts/bootstrap.sh installs it)";
  }
  const fs::path scratch = tools_test::MakeScratchDirectory("dnt_proxy_browser");
  local_origin::LocalOrigin origin;
  Page page;
  page.body = Html;
  origin.Serve("/", page);
  origin.Serve("/app.js", Script(App));
  origin.Serve("/track/cmf/generic", Script("window.adRan = true;"));
  origin.Serve("/pages/scripts/0011/1234.js", Script("window.analyticsRan = true;"));
  const std::string at = "=127.0.0.1:" + std::to_string(origin.Port());
  proxy_test::ProxyProcess proxy({"--block", "ad", "--map-host", "*.test" + at, "--map-host", "match.adsrvr.org" + at,
                                  "--map-host", "script.crazyegg.com" + at, "--map-host", "px.steelhousemedia.com" + at},
                                 scratch / "proxy.log");

  const auto browser = tools_test::RunProgram(
      "timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync --user-data-dir=" +
          Quoted((scratch / "profile").string()) + " --proxy-server=" + proxy.Url() + " --dump-dom http://shop.test/",
      scratch);
  ASSERT_EQ(browser.exitCode, 0) << browser.err;
  EXPECT_NE(browser.out.find("<p id=\"state\">rendered analytics-ran</p>"), std::string::npos) << browser.out;

  EXPECT_TRUE(At(origin, "match.adsrvr.org").empty()) << "an ad script reached its server";
  EXPECT_TRUE(At(origin, "px.steelhousemedia.com").empty()) << "an ad pixel reached its server";
  const auto analytics = At(origin, "script.crazyegg.com");
  ASSERT_EQ(analytics.size(), 1u);
  EXPECT_FALSE(HasField(analytics[0], "Referer")) << "the tracker learnt the page";
  const auto app = At(origin, "shop.test");
  ASSERT_GE(app.size(), 2u);
  EXPECT_TRUE(HasField(app.back(), "Referer")) << "the site's own script lost its Referer";

  EXPECT_EQ(proxy.Stop(), 0);
  EXPECT_TRUE(proxy.AwaitLog("): blocked, The Trade Desk (ad agency)", 1, std::chrono::seconds(1)));
  EXPECT_TRUE(proxy.AwaitLog("): detected, Crazy Egg (web analytics)", 1, std::chrono::seconds(1)));
  fs::remove_all(scratch);
}

}  // namespace
