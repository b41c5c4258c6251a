// What a scan found: pages, sessions with their verdicts, requests with what
// the engine did to them, and the input's problems.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/dnt_scan/traffic.h"
#include "tools/module_host/engine.h"

namespace dnt_scan {

// The engine's records, under the names the scanner and its reports use.
using module_host::EngineError;
using module_host::SessionVerdict;
using module_host::TrackingService;

enum class RequestAction {
  Untouched,  ///< passed on as it was
  Modified,   ///< passed on with changes
  Blocked,    ///< answered by the engine instead of the server
  Skipped,    ///< not an HTTP request (data:, blob:, ...): never shown to the engine
  Failed,     ///< the engine reported an error
};

inline constexpr size_t NoSession = static_cast<size_t>(-1);

struct RequestRecord {
  size_t entry = 0;
  std::string page;
  std::string method;
  std::string url;
  /// The session's server host; empty for skipped requests.
  std::string session;
  size_t sessionIndex = NoSession;
  RequestAction action = RequestAction::Untouched;
  /// What the engine changed, one readable line each.
  std::vector<std::string> changes;
  std::vector<std::string> notes;
};

struct SessionRecord {
  std::string page;
  std::string domain;
  /// False when the engine did not ask for the session (see ProcessingRequired).
  bool processed = true;
  SessionVerdict verdict;
  size_t requests = 0;
  /// The engine's error when the verdict could not be had.
  std::string error;
};

struct PageRecord {
  std::string id;
  std::string title;
};

struct ScanReport {
  std::string input;
  /// What a position in the input is called: "entry" (HAR), "line" (JSON Lines).
  std::string entryName = "entry";
  std::vector<PageRecord> pages;
  std::vector<SessionRecord> sessions;
  std::vector<RequestRecord> requests;
  std::vector<InputProblem> problems;
};

struct ScanSummary {
  size_t requests = 0;
  /// Requests in sessions whose verdict names a tracking service.
  size_t trackers = 0;
  size_t blocked = 0;
  size_t modified = 0;
  size_t skipped = 0;
  size_t failed = 0;
  /// Tracker requests by service category.
  std::map<uint32_t, size_t> byCategory;
  /// Tracker requests by service name, with the service's category.
  std::map<std::string, std::pair<uint32_t, size_t>> byService;
};

ScanSummary Summarize(const ScanReport& report);

/// The service a request's session names, if any.
const TrackingService* ServiceOf(const ScanReport& report, const RequestRecord& request);

/// "social network", "web analytics", "ad agency", "web bug", or "category N".
std::string CategoryName(uint32_t category);
/// "not detected", "detected", "blocked", "block failed", or "verdict N".
std::string VerdictName(uint32_t verdict);
/// "untouched", "modified", "blocked", "skipped", "failed".
std::string ActionName(RequestAction action);

}  // namespace dnt_scan
