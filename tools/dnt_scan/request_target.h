// Where a recorded request goes: whether it is an HTTP request at all, and
// the server host whose session it belongs to.
#pragma once

#include <string>

namespace dnt_scan {

struct RequestTarget {
  /// False for what never goes over HTTP (data:, blob:, chrome-extension:
  /// ...) and for URLs without a host; `reason` says why.
  bool scannable = false;
  std::string reason;
  /// The server host, lower-case: the session's domain.
  std::string host;
  /// https: or wss:, whose sessions a host sees only when it decrypts them.
  bool secure = false;
  /// What goes on the request line: the URL without its fragment.
  std::string requestTarget;
  /// Set for ws: and wss:, whose opening handshake is an HTTP request.
  bool webSocket = false;
};

RequestTarget ClassifyUrl(const std::string& url);

}  // namespace dnt_scan
