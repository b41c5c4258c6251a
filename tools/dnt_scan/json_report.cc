#include "tools/dnt_scan/report_writers.h"

#include <string>

#include "tools/dnt_scan/report_pages.h"

namespace dnt_scan {
namespace {

using nlohmann::json;

json ServiceJson(const std::optional<TrackingService>& service) {
  if (!service) return nullptr;
  return {{"id", service->id},
          {"name", service->name},
          {"category", service->category},
          {"category_name", CategoryName(service->category)}};
}

json PagesJson(const ScanReport& report) {
  json pages = json::array();
  for (const PageView& view : PagesOf(report)) {
    pages.push_back({{"id", view.page->id}, {"title", view.page->title}, {"requests", view.requests.size()}});
  }
  return pages;
}

json SessionsJson(const ScanReport& report) {
  json sessions = json::array();
  for (const SessionRecord& session : report.sessions) {
    json item = {{"page", session.page},
                 {"domain", session.domain},
                 {"processed", session.processed},
                 {"verdict", VerdictName(session.verdict.verdict)},
                 {"service", ServiceJson(session.verdict.service)},
                 {"requests", session.requests}};
    if (!session.error.empty()) item["error"] = session.error;
    sessions.push_back(std::move(item));
  }
  return sessions;
}

json RequestsJson(const ScanReport& report) {
  json requests = json::array();
  for (const RequestRecord& request : report.requests) {
    const TrackingService* service = ServiceOf(report, request);
    requests.push_back({{"entry", request.entry},
                        {"page", request.page},
                        {"method", request.method},
                        {"url", request.url},
                        {"session", request.session.empty() ? json(nullptr) : json(request.session)},
                        {"service", service ? json(service->name) : json(nullptr)},
                        {"action", ActionName(request.action)},
                        {"changes", request.changes},
                        {"notes", request.notes}});
  }
  return requests;
}

json SummaryJson(const ScanSummary& summary) {
  json byCategory = json::object(), byService = json::object();
  for (const auto& [category, count] : summary.byCategory) byCategory[CategoryName(category)] = count;
  for (const auto& [name, entry] : summary.byService) byService[name] = entry.second;
  return {{"requests", summary.requests}, {"trackers", summary.trackers}, {"blocked", summary.blocked},
          {"modified", summary.modified}, {"skipped", summary.skipped},   {"failed", summary.failed},
          {"by_category", byCategory},    {"by_service", byService}};
}

}  // namespace

json ReportJson(const ScanReport& report) {
  json problems = json::array();
  for (const InputProblem& problem : report.problems) problems.push_back({{"entry", problem.number}, {"text", problem.text}});
  return {{"input", report.input},
          {"pages", PagesJson(report)},
          {"sessions", SessionsJson(report)},
          {"requests", RequestsJson(report)},
          {"problems", problems},
          {"summary", SummaryJson(Summarize(report))}};
}

}  // namespace dnt_scan
