// The three forms of a scan report: readable text, JSON and an HTML page.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>

#include "tools/dnt_scan/scan_report.h"

namespace dnt_scan {

/// Per page its sessions with their verdicts and the requests the engine
/// blocked, modified or failed on (with `allRequests`, every request) with
/// what was done to them; then the input's problems and a summary.
void WriteTextReport(const ScanReport& report, bool allRequests, std::ostream& out);

/// {"input", "pages", "sessions", "requests", "problems", "summary"}.
nlohmann::json ReportJson(const ScanReport& report);

/// A self-contained page (no network access): the summary, a chart of the
/// tracker requests per category and service, and the per-page tables.
void WriteHtmlReport(const ScanReport& report, std::ostream& out);

}  // namespace dnt_scan
