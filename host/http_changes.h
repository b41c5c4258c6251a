// What the engine did to an HTTP message, as lines a person reads: fields
// added, changed or removed, the request URL, a forbidden or OK response.
// Every host tool says it the same way.
#pragma once

#include <string>
#include <vector>

#include "host/http_message.h"

namespace host {

/// One line per change from `before` to `after`. First the fields whose
/// values differ, one line per name (names compare without case, in the
/// order they first appear, `before` first): "removed Cookie", "added DNT:
/// 1", "changed Cookie: a=1; b=2 -> a=1" (several lines of a name read as
/// one value). Then "request URL: <new URL>", "forbidden response: first |
/// second" and "OK response: first | second" (" | second" left out when it
/// is empty, both texts when both are).
std::vector<std::string> DescribeChanges(const HttpMessage& before, const HttpMessage& after);

}  // namespace host
