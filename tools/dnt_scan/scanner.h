// A host's view of recorded traffic: one engine session per server host per
// page, every request and response handed to the engine, and a record of
// what the engine did.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "tools/dnt_scan/scan_report.h"
#include "tools/dnt_scan/traffic.h"

namespace dnt_scan {

struct ScannerOptions {
  /// Hands every encrypted session to the engine, not only those whose
  /// domain the engine asks for.
  bool allSessions = false;
  /// Sessions kept open at once; the least recently used one is closed
  /// (and its verdict taken) beyond this. A request to its host and page
  /// after that opens a new session.
  size_t maxOpenSessions = 512;
};

class Scanner final : public TrafficSink {
 public:
  Scanner(module_host::Engine& engine, std::string input, ScannerOptions options = {});

  void Page(PageInfo page) override;
  void Entry(TrafficEntry entry) override;
  void Problem(InputProblem problem) override;

  size_t RequestCount() const { return m_report.requests.size(); }

  /// Closes every open session, taking its verdict, and hands out the
  /// report.
  ScanReport Finish();

 private:
  struct OpenSession {
    size_t record;
    std::unique_ptr<module_host::EngineSession> session;
  };
  using SessionList = std::list<std::pair<std::string, OpenSession>>;

  void NotePage(const std::string& id, const std::string& title);
  OpenSession& SessionFor(const std::string& page, const std::string& host, bool secure);
  void Close(SessionList::iterator session);
  void Process(OpenSession& session, const TrafficEntry& entry, const std::string& requestTarget,
               RequestRecord& record);

  module_host::Engine& m_engine;
  ScannerOptions m_options;
  ScanReport m_report;
  std::unordered_map<std::string, size_t> m_pageIndex;
  // Open sessions, the most recently used first.
  SessionList m_open;
  std::unordered_map<std::string, SessionList::iterator> m_byKey;
  std::unordered_map<std::string, bool> m_processingRequired;
};

}  // namespace dnt_scan
