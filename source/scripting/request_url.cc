#include "source/scripting/request_url.h"

#include <algorithm>
#include <string_view>

#include "orv/rtl/error_handling/exceptions.h"
#include "url_parser/parsed_url.h"
#include "url_parser/special_schemes.h"

namespace dnt {
namespace {

using orv::network::ParsedUrl;
using orv::network::UrlPart;

constexpr const char* RequestUrlLocation = "request_url";

bool IsDigits(std::string_view text) noexcept {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Puts a Host field value into `url`: "h.test:8080" gives host "h.test" and
// port "8080", "[::1]:8080" host "[::1]"; a value with more colons (a bare
// IPv6 address) stays the host as a whole.
void SetHostFromField(ParsedUrl& url, std::string_view value) {
  const std::size_t colon = value.rfind(':');
  const bool hasPort = colon != std::string_view::npos && IsDigits(value.substr(colon + 1)) &&
                       (value.front() == '[' ? value[colon - 1] == ']' : value.find(':') == colon);
  if (!hasPort) {
    url.SetHost(value);
    return;
  }
  url.SetHost(value.substr(0, colon));
  url.SetPort(value.substr(colon + 1));
}

}  // namespace

RequestUrl ResolveRequestUrl(IHttpRequestHeader& header) {
  HttpRequestLine line;
  orv::CheckResult(header.GetRequestLine(&line), RequestUrlLocation, __LINE__);
  std::string_view target = line.url;
  if (orv::network::StartsWithUrlPrefix(target)) target.remove_prefix(4);
  ParsedUrl url = ParsedUrl::Parse(target);
  if (!url.Part(UrlPart::Host).empty()) return {std::move(line.url), false};

  std::string host;
  orv::CheckResult(header.GetField("host", &host), RequestUrlLocation, __LINE__);
  SetHostFromField(url, host);
  return {url.Serialise(), true};
}

}  // namespace dnt
