// The report arranged by page, as the text and HTML reports show it.
#pragma once

#include <string>
#include <vector>

#include "tools/dnt_scan/scan_report.h"

namespace dnt_scan {

struct PageView {
  const PageRecord* page = nullptr;
  std::vector<const SessionRecord*> sessions;
  std::vector<const RequestRecord*> requests;
};

/// Every page of `report` with its sessions and requests, in input order.
std::vector<PageView> PagesOf(const ScanReport& report);

/// "Service (category)" for a session's verdict, or "" when it names none.
std::string ServiceText(const SessionRecord& session);

/// What was done to a request, in one line: the action, then the changes or
/// the notes.
std::string OutcomeText(const RequestRecord& request);

}  // namespace dnt_scan
