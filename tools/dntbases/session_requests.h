// The requests of one session for dntbases session: given on the command
// line (--request, then its --header and --response-header options) or read
// from JSON Lines.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "host/http_message.h"

namespace dntbases {

struct SessionRequest {
  host::HttpMessage request;
  /// The response's fields, when the session should see a response.
  std::optional<std::vector<host::HttpField>> response;
};

/// Reads one request per non-empty line: {"method", "url", "version"?,
/// "headers"?, "response"?: {"headers"?}}; headers are an object of name to
/// value or string, or an array of [name, value] pairs. Throws
/// std::invalid_argument naming the line for anything else.
std::vector<SessionRequest> ReadSessionRequests(std::istream& in);

}  // namespace dntbases
