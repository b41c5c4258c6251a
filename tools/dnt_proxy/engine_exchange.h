// A request or response header handed to the engine, and what the engine
// made of it brought back to the header that goes on. The engine is given
// the reference host's in-memory message: the end-to-end fields (the
// connection's own fields and the framing stay with the proxy) and, for a
// request, the absolute URL on the request line.
#pragma once

#include <boost/beast/http/message.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tools/dnt_proxy/forwarding.h"
#include "tools/module_host/engine.h"

namespace dnt_proxy {

/// The engine answered the message in place of the server.
struct EngineAnswer {
  unsigned status = 403;
  std::string reason;
  std::string body;
};

struct RequestOutcome {
  /// Set: nothing goes to the server; the client gets this.
  std::optional<EngineAnswer> answer;
  /// What the engine changed, one line per change (for the log).
  std::vector<std::string> changes;
  bool responseProcessingRequired = false;
  /// The URL the engine rewrote the request to, when it did.
  std::optional<HttpUrl> rewritten;
};

struct ResponseOutcome {
  std::optional<EngineAnswer> answer;
  std::vector<std::string> changes;
};

/// Runs the request through `session` and applies the engine's changes to
/// `header` (its target stays; a rewrite is returned). Throws
/// module_host::EngineError, also for a rewrite to a URL that is neither
/// http:// nor https://.
RequestOutcome ProcessRequest(module_host::EngineSession& session, http::request_header<>& header,
                              const std::string& url);

/// The same for a response whose request asked for it.
ResponseOutcome ProcessResponse(module_host::EngineSession& session, http::response_header<>& header);

}  // namespace dnt_proxy
