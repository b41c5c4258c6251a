// What the engine did to an HTTP message, as lines a person reads: fields
// set or removed, the request URL, a forbidden or OK response.
#pragma once

#include <string>
#include <vector>

#include "host/http_message.h"

namespace host {

/// One line per change from `before` to `after`, fields first in the order
/// they first appear: "field set: Name: value" (one per value), "field
/// removed: Name", "request URL: ...", "forbidden response: first | second",
/// "OK response: first | second".
std::vector<std::string> DescribeChanges(const HttpMessage& before, const HttpMessage& after);

}  // namespace host
