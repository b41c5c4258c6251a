// What a host tool needs from the Do-Not-Track engine: the tracking services
// it knows, and per HTTP session the handling of requests and responses (the
// reference host's in-memory messages, which the engine changes in place and
// in which it records a forbidden or OK response) and the verdict.
// ModuleEngine implements it over libdnt_engine.so; tests implement it with
// a fake.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "do_not_track/service_settings.h"
#include "host/http_message.h"

namespace module_host {

struct TrackingService {
  uint32_t id = 0;
  uint32_t category = 0;
  std::string name;
};

struct SessionVerdict {
  /// dnt::verdict values.
  uint32_t verdict = 0;
  /// The service the verdict is about; none when the engine named none.
  std::optional<TrackingService> service;
};

/// A failed engine call; the text names the call and the engine's error.
class EngineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// One HTTP session: the requests to one server host that a host groups
/// together (per page for a scan, per client connection for a proxy).
class EngineSession {
 public:
  virtual ~EngineSession() = default;
  /// Hands `request` to the engine, which may change it or answer it in
  /// place of the server; true when its response needs processing too.
  /// Throws EngineError.
  virtual bool ProcessRequest(const std::shared_ptr<host::HttpMessage>& request) = 0;
  /// Hands the header fields of a response to the engine, which may change
  /// them or answer in place of the server. Throws EngineError.
  virtual void ProcessResponse(const std::shared_ptr<host::HttpMessage>& response) = 0;
  /// The session's verdict so far. Throws EngineError.
  virtual SessionVerdict Verdict() = 0;
};

class Engine {
 public:
  virtual ~Engine() = default;
  /// Every tracking service the bases know (categories 1 to 4).
  virtual std::vector<TrackingService> Services() = 0;
  /// Starts the DNT service with `settings`; called once, before sessions.
  virtual void Start(const dnt::ServiceSettings& settings) = 0;
  /// Whether a host hands encrypted sessions to `domain` to the engine.
  virtual bool ProcessingRequired(const std::string& domain) = 0;
  virtual std::unique_ptr<EngineSession> OpenSession(const std::string& domain) = 0;
};

}  // namespace module_host
