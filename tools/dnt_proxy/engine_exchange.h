// A request or response header handed to the engine, and what the engine
// made of it brought back to the header that goes on. The engine is given
// the reference host's in-memory message: the end-to-end fields (the
// connection's own fields and the framing stay with the proxy) and, for a
// request, the absolute URL on the request line. Nothing the engine asks for
// reaches the header unchecked: an edit the wire would not carry as one
// message (a control character in a field, a field of the message's
// framing, a target with blanks) is refused whole, as an engine error.
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
  /// What was mended in the answer (a reason phrase the wire would not
  /// carry, a body on a status that has none), to be logged as the
  /// engine's error; empty when nothing was.
  std::string answerMended;
  /// What the engine changed, one line per change (for the log).
  std::vector<std::string> changes;
  bool responseProcessingRequired = false;
  /// The URL the engine rewrote the request to, when it did.
  std::optional<HttpUrl> rewritten;
};

struct ResponseOutcome {
  std::optional<EngineAnswer> answer;
  std::string answerMended;
  std::vector<std::string> changes;
};

/// Runs the request through `session` and applies the engine's changes to
/// `header` (its target stays; a rewrite is returned). Throws
/// module_host::EngineError.
RequestOutcome ProcessRequest(module_host::EngineSession& session, http::request_header<>& header,
                              const std::string& url);

/// The same for a response whose request asked for it.
ResponseOutcome ProcessResponse(module_host::EngineSession& session, http::response_header<>& header);

/// Applies `edited`, what the engine made of the message it was given for
/// `header` (and `url`), to `header`. Throws module_host::EngineError, with
/// `header` left as it was, for an edit the wire would not carry: a field
/// name or value out of the HTTP grammar, an added, changed or removed field
/// of the framing or of the connection (Content-Length, Transfer-Encoding,
/// Connection, Keep-Alive, Proxy-*, TE, Trailer, Upgrade), not exactly one
/// valid Host, a head beyond the proxy's own limits, or a URL that is not an
/// http:// or https:// URL with a target in origin form.
RequestOutcome ApplyRequestEdits(const host::HttpMessage& edited, http::request_header<>& header,
                                 const std::string& url);
ResponseOutcome ApplyResponseEdits(const host::HttpMessage& edited, http::response_header<>& header);

}  // namespace dnt_proxy
