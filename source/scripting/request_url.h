// The URL of a request as scripts get it: the target itself when it names a
// host, else the target completed with the host of the "host" field.
#pragma once

#include <string>

#include "do_not_track/http_message.h"

namespace dnt {

struct RequestUrl {
  std::string text;
  bool hostFromHeader = false;
};

/// Reads the request line (and the "host" field when the target has no
/// host). Throws orv::CheckResultFailedException for a failing host call,
/// orv::network::UrlSyntaxError for a target or host that does not parse.
RequestUrl ResolveRequestUrl(IHttpRequestHeader& header);

}  // namespace dnt
