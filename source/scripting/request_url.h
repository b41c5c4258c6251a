// The URL of a request as scripts get it: the target itself when it names a
// host, else the target completed with the host of the "host" field.
#pragma once

#include <string>
#include <string_view>

#include "do_not_track/http_message.h"
#include "url_parser/parsed_url.h"

namespace dnt {

struct RequestUrl {
  std::string text;
  bool hostFromHeader = false;
};

/// Reads the request line (and the "host" field when the target has no
/// host). Throws orv::CheckResultFailedException for a failing host call,
/// orv::network::UrlSyntaxError for a target or host that does not parse.
RequestUrl ResolveRequestUrl(IHttpRequestHeader& header);

/// Puts a Host field value into `url`: "h.test:8080" gives host "h.test" and
/// port "8080", "[::1]:8080" host "[::1]"; a value with more colons (a bare
/// IPv6 address) stays the host as a whole.
void SetHostFromField(orv::network::ParsedUrl& url, std::string_view value);

}  // namespace dnt
