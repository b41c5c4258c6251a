#include "tools/dnt_scan/request_target.h"

#include <stdexcept>


#include "url_parser/parsed_url.h"
#include "url_parser/special_schemes.h"

namespace dnt_scan {
namespace {

using orv::network::ParsedUrl;
using orv::network::UrlPart;

RequestTarget NotScanned(std::string reason) {
  RequestTarget target;
  target.reason = std::move(reason);
  return target;
}

}  // namespace

RequestTarget ClassifyUrl(const std::string& url) {
  ParsedUrl parsed;
  try {
    parsed = ParsedUrl::Parse(url);
  } catch (const std::exception& e) {
    return NotScanned(std::string("the URL does not parse: ") + e.what());
  }
  const std::string scheme = orv::network::AsciiLowercase(parsed.Part(UrlPart::Scheme));
  const bool web = scheme == "http" || scheme == "https";
  const bool webSocket = scheme == "ws" || scheme == "wss";
  if (!web && !webSocket) {
    return NotScanned(scheme.empty() ? "the URL has no scheme" : scheme + ": URL, not an HTTP request");
  }
  std::string host = orv::network::AsciiLowercase(parsed.Part(UrlPart::Host));
  while (!host.empty() && host.back() == '.') host.pop_back();
  if (host.empty()) return NotScanned("the URL has no host");
  RequestTarget target;
  target.scannable = true;
  target.host = std::move(host);
  target.secure = scheme == "https" || scheme == "wss";
  target.webSocket = webSocket;
  target.requestTarget = url.substr(0, url.find('#'));
  return target;
}

}  // namespace dnt_scan
