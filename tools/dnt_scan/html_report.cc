#include <algorithm>
#include <string>
#include <vector>

#include "tools/dnt_scan/report_pages.h"
#include "tools/dnt_scan/report_writers.h"

namespace dnt_scan {
namespace {

constexpr int BarWidth = 420;
constexpr int RowHeight = 22;
constexpr int LabelWidth = 260;

const char* Style = R"(
body { font: 14px/1.4 system-ui, sans-serif; margin: 2em; color: #222; }
h1 { font-size: 1.4em; } h2 { font-size: 1.2em; margin-top: 2em; } h3 { font-size: 1em; }
table { border-collapse: collapse; margin: .5em 0 1.5em; }
th, td { border-bottom: 1px solid #ddd; padding: 3px 8px; text-align: left; vertical-align: top; }
td.url { max-width: 48em; overflow-wrap: anywhere; font-family: monospace; font-size: 12px; }
.blocked { color: #b00020; } .modified { color: #8a5a00; } .skipped, .untouched { color: #777; }
.failed { color: #fff; background: #b00020; }
.numbers td:last-child { text-align: right; font-weight: bold; }
)";

std::string Escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string CategoryColour(uint32_t category) {
  static const char* colours[] = {"#888888", "#3b5998", "#2a9d8f", "#e76f51", "#8e44ad"};
  return colours[category < 5 ? category : 0];
}

struct Bar {
  std::string label;
  size_t count;
  uint32_t category;
  bool service;
};

// Each category, most requests first, followed by its services.
std::vector<Bar> ChartBars(const ScanSummary& summary) {
  std::vector<std::pair<uint32_t, size_t>> categories(summary.byCategory.begin(), summary.byCategory.end());
  std::stable_sort(categories.begin(), categories.end(), [](auto& a, auto& b) { return a.second > b.second; });
  std::vector<Bar> bars;
  for (const auto& [category, count] : categories) {
    bars.push_back({CategoryName(category), count, category, false});
    std::vector<Bar> services;
    for (const auto& [name, entry] : summary.byService) {
      if (entry.first == category) services.push_back({name, entry.second, category, true});
    }
    std::stable_sort(services.begin(), services.end(), [](auto& a, auto& b) { return a.count > b.count; });
    bars.insert(bars.end(), services.begin(), services.end());
  }
  return bars;
}

void WriteChart(const ScanSummary& summary, std::ostream& out) {
  const std::vector<Bar> bars = ChartBars(summary);
  if (bars.empty()) {
    out << "<p>No request went to a known tracking service.</p>\n";
    return;
  }
  size_t most = 1;
  for (const Bar& bar : bars) most = std::max(most, bar.count);
  const int height = static_cast<int>(bars.size()) * RowHeight + 4;
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << LabelWidth + BarWidth + 60 << "\" height=\"" << height
      << "\" role=\"img\" aria-label=\"Tracker requests by category and service\">\n";
  for (size_t i = 0; i < bars.size(); ++i) {
    const Bar& bar = bars[i];
    const int y = static_cast<int>(i) * RowHeight + 2;
    const int width = std::max(1, static_cast<int>(bar.count * BarWidth / most));
    out << "<text x=\"" << (bar.service ? 20 : 0) << "\" y=\"" << y + 15 << "\" font-size=\"13\""
        << (bar.service ? "" : " font-weight=\"bold\"") << ">" << Escaped(bar.label) << "</text>"
        << "<rect x=\"" << LabelWidth << "\" y=\"" << y + 3 << "\" width=\"" << width << "\" height=\""
        << RowHeight - 6 << "\" fill=\"" << CategoryColour(bar.category) << "\""
        << (bar.service ? " fill-opacity=\"0.6\"" : "") << "/>"
        << "<text x=\"" << LabelWidth + width + 6 << "\" y=\"" << y + 15 << "\" font-size=\"13\">" << bar.count
        << "</text>\n";
  }
  out << "</svg>\n";
}

void WriteHtmlSummary(const ScanSummary& summary, std::ostream& out) {
  const std::pair<const char*, size_t> rows[] = {
      {"Requests", summary.requests}, {"Tracker requests", summary.trackers}, {"Blocked", summary.blocked},
      {"Modified", summary.modified}, {"Skipped (not HTTP)", summary.skipped}, {"Failed", summary.failed}};
  out << "<table class=\"numbers\">\n";
  for (const auto& [name, count] : rows) out << "<tr><td>" << name << "</td><td>" << count << "</td></tr>\n";
  out << "</table>\n";
}

void WritePage(const PageView& page, std::ostream& out) {
  out << "<section>\n<h2>" << Escaped(page.page->id);
  if (!page.page->title.empty() && page.page->title != page.page->id) out << " &mdash; " << Escaped(page.page->title);
  out << "</h2>\n<h3>Sessions</h3>\n<table><tr><th>Server host</th><th>Requests</th><th>Verdict</th><th>Service</th></tr>\n";
  for (const SessionRecord* session : page.sessions) {
    out << "<tr><td>" << Escaped(session->domain) << "</td><td>" << session->requests << "</td><td>"
        << (session->processed ? VerdictName(session->verdict.verdict) : "not processed") << "</td><td>"
        << Escaped(ServiceText(*session)) << Escaped(session->error) << "</td></tr>\n";
  }
  out << "</table>\n<h3>Requests</h3>\n<table><tr><th>#</th><th>Method</th><th>URL</th><th>Outcome</th></tr>\n";
  for (const RequestRecord* request : page.requests) {
    out << "<tr><td>" << request->entry << "</td><td>" << Escaped(request->method) << "</td><td class=\"url\">"
        << Escaped(request->url) << "</td><td class=\"" << ActionName(request->action) << "\">"
        << Escaped(OutcomeText(*request)) << "</td></tr>\n";
  }
  out << "</table>\n</section>\n";
}

}  // namespace

void WriteHtmlReport(const ScanReport& report, std::ostream& out) {
  const ScanSummary summary = Summarize(report);
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>dnt-scan: "
      << Escaped(report.input) << "</title>\n<style>" << Style << "</style></head>\n<body>\n<h1>Do-Not-Track scan of "
      << Escaped(report.input) << "</h1>\n";
  WriteHtmlSummary(summary, out);
  out << "<h2>Tracker requests by category and service</h2>\n";
  WriteChart(summary, out);
  for (const PageView& page : PagesOf(report)) WritePage(page, out);
  if (!report.problems.empty()) {
    out << "<h2>Input problems</h2>\n<ul>\n";
    for (const InputProblem& problem : report.problems) {
      out << "<li>" << Escaped(report.entryName) << ' ' << problem.number << ": " << Escaped(problem.text) << "</li>\n";
    }
    out << "</ul>\n";
  }
  out << "</body></html>\n";
}

}  // namespace dnt_scan
