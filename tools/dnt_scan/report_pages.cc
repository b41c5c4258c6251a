#include "tools/dnt_scan/report_pages.h"

#include <unordered_map>

namespace dnt_scan {
namespace {

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : "; ") + item;
  return text;
}

}  // namespace

std::vector<PageView> PagesOf(const ScanReport& report) {
  std::vector<PageView> pages(report.pages.size());
  std::unordered_map<std::string, size_t> index;
  for (size_t i = 0; i < report.pages.size(); ++i) {
    pages[i].page = &report.pages[i];
    index.emplace(report.pages[i].id, i);
  }
  for (const SessionRecord& session : report.sessions) {
    if (const auto it = index.find(session.page); it != index.end()) pages[it->second].sessions.push_back(&session);
  }
  for (const RequestRecord& request : report.requests) {
    if (const auto it = index.find(request.page); it != index.end()) pages[it->second].requests.push_back(&request);
  }
  return pages;
}

std::string ServiceText(const SessionRecord& session) {
  const auto& service = session.verdict.service;
  return service ? service->name + " (" + CategoryName(service->category) + ")" : "";
}

std::string OutcomeText(const RequestRecord& request) {
  std::string text = ActionName(request.action);
  const std::string details = Joined(request.changes.empty() ? request.notes : request.changes);
  return details.empty() ? text : text + ": " + details;
}

}  // namespace dnt_scan
