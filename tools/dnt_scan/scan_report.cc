#include "tools/dnt_scan/scan_report.h"

#include "do_not_track/categories.h"

namespace dnt_scan {

const TrackingService* ServiceOf(const ScanReport& report, const RequestRecord& request) {
  if (request.sessionIndex >= report.sessions.size()) return nullptr;
  const auto& service = report.sessions[request.sessionIndex].verdict.service;
  return service ? &*service : nullptr;
}

ScanSummary Summarize(const ScanReport& report) {
  ScanSummary summary;
  for (const RequestRecord& request : report.requests) {
    ++summary.requests;
    summary.blocked += request.action == RequestAction::Blocked;
    summary.modified += request.action == RequestAction::Modified;
    summary.skipped += request.action == RequestAction::Skipped;
    summary.failed += request.action == RequestAction::Failed;
    if (const TrackingService* service = ServiceOf(report, request)) {
      ++summary.trackers;
      ++summary.byCategory[service->category];
      auto& [category, count] = summary.byService[service->name];
      category = service->category;
      ++count;
    }
  }
  return summary;
}

std::string CategoryName(uint32_t category) {
  const char* name = dnt::CategoryName(category);
  return name ? name : "category " + std::to_string(category);
}

std::string VerdictName(uint32_t verdict) {
  const char* name = dnt::VerdictName(verdict);
  return name ? name : "verdict " + std::to_string(verdict);
}

std::string ActionName(RequestAction action) {
  switch (action) {
    case RequestAction::Untouched: return "untouched";
    case RequestAction::Modified: return "modified";
    case RequestAction::Blocked: return "blocked";
    case RequestAction::Skipped: return "skipped";
    case RequestAction::Failed: return "failed";
  }
  return "?";
}

}  // namespace dnt_scan
