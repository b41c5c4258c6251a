#include <algorithm>
#include <iomanip>

#include "tools/dnt_scan/report_pages.h"
#include "tools/dnt_scan/report_writers.h"

namespace dnt_scan {
namespace {

constexpr size_t UrlWidth = 90;
constexpr size_t OutcomeWidth = 160;

std::string Cut(const std::string& text, size_t width) {
  return text.size() <= width ? text : text.substr(0, width - 3) + "...";
}

void WriteSessions(const PageView& page, std::ostream& out) {
  size_t width = 0;
  for (const SessionRecord* session : page.sessions) width = std::max(width, session->domain.size());
  out << "  Sessions (" << page.sessions.size() << "):\n";
  for (const SessionRecord* session : page.sessions) {
    out << "    " << std::left << std::setw(static_cast<int>(std::min<size_t>(width, 50))) << session->domain << "  "
        << std::setw(13) << (session->processed ? VerdictName(session->verdict.verdict) : "not processed")
        << ServiceText(*session);
    if (!session->error.empty()) out << "error: " << session->error;
    out << '\n';
  }
}

void WriteRequests(const PageView& page, std::ostream& out) {
  out << "  Requests (" << page.requests.size() << "):\n";
  for (const RequestRecord* request : page.requests) {
    out << "    #" << std::left << std::setw(5) << request->entry << std::setw(5) << request->method << ' '
        << Cut(request->url, UrlWidth) << "\n           " << Cut(OutcomeText(*request), OutcomeWidth) << '\n';
  }
}

void WriteSummary(const ScanSummary& summary, std::ostream& out) {
  out << "Summary\n";
  const std::pair<const char*, size_t> lines[] = {
      {"requests", summary.requests}, {"tracker requests", summary.trackers}, {"blocked", summary.blocked},
      {"modified", summary.modified}, {"skipped", summary.skipped},          {"failed", summary.failed}};
  for (const auto& [name, count] : lines) out << "  " << std::left << std::setw(18) << name << count << '\n';
  if (summary.byCategory.empty()) return;
  out << "  tracker requests by category:\n";
  for (const auto& [category, count] : summary.byCategory) {
    out << "    " << std::setw(16) << CategoryName(category) << count << '\n';
  }
}

}  // namespace

void WriteTextReport(const ScanReport& report, std::ostream& out) {
  out << "dnt-scan: " << report.input << "\n\n";
  for (const PageView& page : PagesOf(report)) {
    out << "Page " << page.page->id;
    if (!page.page->title.empty() && page.page->title != page.page->id) out << ": " << page.page->title;
    out << '\n';
    WriteSessions(page, out);
    WriteRequests(page, out);
    out << '\n';
  }
  if (!report.problems.empty()) {
    out << "Input problems (" << report.problems.size() << "):\n";
    for (const InputProblem& problem : report.problems) out << "  " << report.entryName << ' ' << problem.number << ": " << problem.text << '\n';
    out << '\n';
  }
  WriteSummary(Summarize(report), out);
}

}  // namespace dnt_scan
