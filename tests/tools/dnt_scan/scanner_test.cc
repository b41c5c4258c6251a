// The scanner as a host: one session per server host per page, what the
// engine changed in each message, and the three reports, with a fake engine.
#include <gtest/gtest.h>

#include <sstream>

#include "do_not_track/categories.h"
#include "tests/tools/dnt_scan/fake_engine.h"
#include "tools/dnt_scan/report_writers.h"
#include "tools/dnt_scan/scanner.h"

namespace {

using namespace dnt_scan;
using dnt_scan_test::FakeEngine;
using Strings = std::vector<std::string>;

TrafficEntry Request(size_t number, const std::string& page, const std::string& url, HeaderFields fields = {},
                     std::optional<TrafficResponse> response = std::nullopt) {
  return {number, page, "GET", url, "HTTP/1.1", std::move(fields), std::move(response), {}};
}

ScanReport ScanPageLoad(FakeEngine& engine) {
  Scanner scanner(engine, "load.har");
  scanner.Page({"p1", "A <b>page</b>"});
  const TrafficResponse setsCookie{200, {{"Set-Cookie", "id=1"}, {"Content-Type", "text/javascript"}}};
  scanner.Entry(Request(1, "p1", "http://www.site.test/"));
  scanner.Entry(Request(2, "p1", "https://cdn.tracker.test/a.js#frag",
                        {{"Cookie", "id=1"}, {"Referer", "http://www.site.test/"}}, setsCookie));
  scanner.Entry(Request(3, "p1", "https://cdn.tracker.test/b.js"));
  scanner.Entry(Request(4, "p1", "https://ads.blocked.test/x", {}, setsCookie));
  scanner.Entry(Request(5, "p1", "https://cdn.site.test/style.css"));
  scanner.Entry(Request(6, "p1", "data:image/png;base64,AAAA"));
  scanner.Entry(Request(7, "p1", "wss://socket.tracker.test/live"));
  scanner.Entry(Request(8, "p1", "https://api.broken.test/?q=<script>"));
  scanner.Entry(Request(9, "p2", "https://cdn.tracker.test/a.js"));
  scanner.Problem({10, "the entry has no \"request\""});
  return scanner.Finish();
}

TEST(Scanner, OneSessionPerServerHostPerPageAndWhatTheEngineDid) {
  FakeEngine engine;
  const ScanReport report = ScanPageLoad(engine);
  EXPECT_EQ(engine.opened, (Strings{"www.site.test", "cdn.tracker.test", "ads.blocked.test", "socket.tracker.test",
                                    "api.broken.test", "cdn.tracker.test"}));
  ASSERT_EQ(report.pages.size(), 2u);
  EXPECT_EQ(report.pages[1].id, "p2");
  ASSERT_EQ(report.requests.size(), 9u);

  const RequestRecord& tracked = report.requests[1];
  EXPECT_EQ(tracked.action, RequestAction::Modified);
  EXPECT_EQ(tracked.session, "cdn.tracker.test");
  EXPECT_EQ(tracked.changes,
            (Strings{"removed Cookie", "removed Referer", "added DNT: 1", "response: removed Set-Cookie"}));
  EXPECT_EQ(report.requests[0].action, RequestAction::Untouched);
  // A request the engine answers gets no response from the server.
  EXPECT_EQ(report.requests[3].action, RequestAction::Blocked);
  EXPECT_EQ(report.requests[3].changes, Strings{"forbidden response: 403 Forbidden"});
  EXPECT_EQ(report.requests[4].notes,
            Strings{"not processed: the engine does not ask for encrypted sessions to cdn.site.test"});
  EXPECT_EQ(report.requests[5].action, RequestAction::Skipped);
  EXPECT_EQ(report.requests[5].notes, Strings{"data: URL, not an HTTP request"});
  EXPECT_EQ(report.requests[6].notes[0], "the opening handshake of a WebSocket");
  EXPECT_EQ(report.requests[7].action, RequestAction::Failed);

  const SessionRecord& trackerSession = report.sessions[report.requests[1].sessionIndex];
  EXPECT_EQ(trackerSession.requests, 2u);
  EXPECT_EQ(trackerSession.verdict.verdict, dnt::verdict::Detected);
  EXPECT_EQ(trackerSession.verdict.service->name, "Tracker Co");
  EXPECT_FALSE(report.sessions[report.requests[4].sessionIndex].processed);
  EXPECT_NE(report.sessions[report.requests[7].sessionIndex].error.find("0x80000040"), std::string::npos);

  const ScanSummary summary = Summarize(report);
  EXPECT_EQ(summary.requests, 9u);
  EXPECT_EQ(summary.trackers, 5u);
  EXPECT_EQ(summary.blocked, 1u);
  EXPECT_EQ(summary.modified, 4u);
  EXPECT_EQ(summary.skipped, 1u);
  EXPECT_EQ(summary.failed, 1u);
  EXPECT_EQ(summary.byCategory, (std::map<uint32_t, size_t>{{2, 4}, {3, 1}}));
}

TEST(Scanner, SessionsBeyondTheLimitAreClosedAndReopened) {
  FakeEngine engine;
  Scanner scanner(engine, "x", {false, 2});
  for (const char* host : {"a", "b", "a", "c", "b"}) scanner.Entry(Request(1, "p", std::string("http://") + host + ".tracker.test/"));
  const ScanReport report = scanner.Finish();
  EXPECT_EQ(engine.opened, (Strings{"a.tracker.test", "b.tracker.test", "c.tracker.test", "b.tracker.test"}));
  ASSERT_EQ(report.sessions.size(), 4u);
  EXPECT_EQ(report.sessions[0].requests, 2u);
  EXPECT_EQ(report.sessions[1].verdict.service->name, "Tracker Co");
}

TEST(Scanner, AnAnswerToTheResponseBlocksTheRequest) {
  FakeEngine engine;
  Scanner scanner(engine, "x");
  scanner.Entry(Request(1, "p", "http://late.tracker.test/", {}, TrafficResponse{200, {{"Set-Cookie", "id=1"}}}));
  const ScanReport report = scanner.Finish();
  EXPECT_EQ(report.requests[0].action, RequestAction::Blocked);
  EXPECT_EQ(report.requests[0].changes,
            (Strings{"added DNT: 1", "response: removed Set-Cookie", "response: OK response"}));
}

TEST(Scanner, ReportsInJsonTextAndHtml) {
  FakeEngine engine;
  const ScanReport report = ScanPageLoad(engine);

  const nlohmann::json json = ReportJson(report);
  EXPECT_EQ(json["summary"]["trackers"], 5);
  EXPECT_EQ(json["summary"]["by_category"], nlohmann::json::parse(R"({"ad agency": 1, "web analytics": 4})"));
  EXPECT_EQ(json["sessions"][1], nlohmann::json::parse(R"({"page": "p1", "domain": "cdn.tracker.test",
      "processed": true, "verdict": "detected", "requests": 2,
      "service": {"id": 7, "name": "Tracker Co", "category": 2, "category_name": "web analytics"}})"));
  EXPECT_EQ(json["requests"][5]["session"], nullptr);
  EXPECT_EQ(json["requests"][1]["action"], "modified");
  EXPECT_EQ(json["problems"][0]["entry"], 10);

  // The text report lists what the engine did, unless asked for every request.
  for (const bool allRequests : {false, true}) {
    std::ostringstream out;
    WriteTextReport(report, allRequests, out);
    const std::string text = out.str();
    EXPECT_NE(text.find("Page p1: A <b>page</b>\n"), std::string::npos) << text;
    EXPECT_NE(text.find("cdn.tracker.test     detected     Tracker Co (web analytics)"), std::string::npos);
    EXPECT_NE(text.find("cdn.site.test        not processed"), std::string::npos);
    // One line per request: entry, method, URL, what was done.
    const size_t line = text.find("    #2    GET   https://cdn.tracker.test/a.js#frag ");
    ASSERT_NE(line, std::string::npos) << text;
    EXPECT_LT(text.find("  modified: removed Cookie; removed Referer; added DNT: 1", line), text.find('\n', line));
    EXPECT_NE(text.find("#4    GET   https://ads.blocked.test/x"), std::string::npos);
    EXPECT_NE(text.find("#8    GET   https://api.broken.test/?q=<script>"), std::string::npos);
    EXPECT_EQ(text.find("https://cdn.site.test/style.css") != std::string::npos, allRequests);
    EXPECT_EQ(text.find("data:image/png") != std::string::npos, allRequests);
    EXPECT_EQ(text.find("(5 of 8; --all-requests lists every one)") != std::string::npos, !allRequests) << text;
    EXPECT_NE(text.find("  tracker requests  5\n"), std::string::npos);
    EXPECT_NE(text.find("  entry 10: the entry has no \"request\""), std::string::npos);
  }

  std::ostringstream html;
  WriteHtmlReport(report, html);
  EXPECT_EQ(html.str().rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.str().find("<svg"), std::string::npos);
  EXPECT_NE(html.str().find("A &lt;b&gt;page&lt;/b&gt;"), std::string::npos);
  // Self-contained: nothing is fetched, nothing runs.
  for (const char* outside : {"<script", "src=", "href=", "<link", "url("}) {
    EXPECT_EQ(html.str().find(outside), std::string::npos) << outside;
  }
}

}  // namespace
