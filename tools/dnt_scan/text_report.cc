#include <algorithm>
#include <iomanip>
#include <iterator>

#include "tools/dnt_scan/report_pages.h"
#include "tools/dnt_scan/report_writers.h"

namespace dnt_scan {
namespace {

constexpr size_t UrlWidth = 64;
constexpr size_t OutcomeWidth = 100;

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

// What the engine did to the request, rather than what it left alone.
bool EngineActed(const RequestRecord& request) {
  return request.action == RequestAction::Blocked || request.action == RequestAction::Modified ||
         request.action == RequestAction::Failed;
}

void WriteRequests(const PageView& page, bool allRequests, std::ostream& out) {
  std::vector<const RequestRecord*> shown;
  std::copy_if(page.requests.begin(), page.requests.end(), std::back_inserter(shown),
               [&](const RequestRecord* request) { return allRequests || EngineActed(*request); });
  if (allRequests) {
    out << "  Requests (" << shown.size() << "):\n";
  } else {
    out << "  Requests the engine blocked, modified or failed on (" << shown.size() << " of " << page.requests.size()
        << "; --all-requests lists every one):\n";
  }
  size_t width = 0;
  for (const RequestRecord* request : shown) width = std::max(width, std::min(request->url.size(), UrlWidth));
  for (const RequestRecord* request : shown) {
    out << "    #" << std::left << std::setw(5) << request->entry << std::setw(5) << request->method << ' '
        << std::setw(static_cast<int>(width)) << Cut(request->url, UrlWidth) << "  "
        << Cut(OutcomeText(*request), OutcomeWidth) << '\n';
  }
}

void WriteTextSummary(const ScanSummary& summary, std::ostream& out) {
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

void WriteTextReport(const ScanReport& report, bool allRequests, std::ostream& out) {
  out << "dnt-scan: " << report.input << "\n\n";
  for (const PageView& page : PagesOf(report)) {
    out << "Page " << page.page->id;
    if (!page.page->title.empty() && page.page->title != page.page->id) out << ": " << page.page->title;
    out << '\n';
    WriteSessions(page, out);
    WriteRequests(page, allRequests, out);
    out << '\n';
  }
  if (!report.problems.empty()) {
    out << "Input problems (" << report.problems.size() << "):\n";
    for (const InputProblem& problem : report.problems) out << "  " << report.entryName << ' ' << problem.number << ": " << problem.text << '\n';
    out << '\n';
  }
  WriteTextSummary(Summarize(report), out);
}

}  // namespace dnt_scan
