// An engine for the scanner's tests that works the way the default bases
// do, through the same HTTP message objects the real module is given:
// hosts with "tracker" in their name are tracked (cookie and Referer
// removed, Set-Cookie stripped from the response), hosts with "blocked" are
// answered with a forbidden response, tracked hosts with "late" have their
// response answered with an empty OK response, hosts with "broken" make
// every call fail. Encrypted sessions are asked for only to tracked or
// blocked hosts.
#pragma once

#include <string>
#include <vector>

#include "tools/module_host/engine.h"

namespace dnt_scan_test {

struct FakeEngine final : module_host::Engine {
  std::vector<module_host::TrackingService> Services() override;
  void Start(const dnt::ServiceSettings& settings) override { started = true; }
  bool ProcessingRequired(const std::string& domain) override;
  std::unique_ptr<module_host::EngineSession> OpenSession(const std::string& domain) override;

  bool started = false;
  /// Every domain a session was opened for, in order.
  std::vector<std::string> opened;
};

}  // namespace dnt_scan_test
