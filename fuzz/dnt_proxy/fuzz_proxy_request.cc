// Any bytes as a request head arriving at the proxy, and as a response head
// arriving from a server: the head limits, Beast's parser with the checks
// against smuggling, the route taken and the fields stripped before a
// message goes on, with the promises each of them makes.
#include <boost/asio/buffer.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tools/dnt_proxy/forwarding.h"
#include "tools/dnt_proxy/request_head.h"

namespace {

using namespace dnt_proxy;

void Require(bool condition) {
  if (!condition) std::abort();
}

// Nothing that belongs to one connection is left, nor anything the
// Connection field named.
void CheckStripped(http::fields& fields) {
  std::vector<std::string> named;
  for (auto [it, end] = fields.equal_range(http::field::connection); it != end; ++it) {
    for (const auto& token : http::token_list(it->value())) named.emplace_back(View(token));
  }
  RemoveHopByHop(fields, false);
  for (const http::field field : {http::field::connection, http::field::keep_alive, http::field::proxy_connection,
                                  http::field::proxy_authorization, http::field::te, http::field::trailer,
                                  http::field::transfer_encoding, http::field::upgrade}) {
    Require(fields.count(field) == 0);
  }
  for (const std::string& name : named) Require(fields.count(name) == 0);
  AddVia(fields);
  Require(ViaNamesProxy(fields));
}

void CheckRoute(const http::request_header<>& header) {
  const RouteDecision decision = DecideRoute(header.method(), View(header.target()));
  switch (decision.route) {
    case Route::Forward:
      Require(!decision.url.server.host.empty() && decision.url.originTarget.front() == '/');
      Require(ParseHttpUrl(decision.url.text).has_value());
      break;
    case Route::Tunnel:
      Require(!decision.url.server.host.empty());
      break;
    case Route::Refuse:
      Require(decision.status >= 400 && !decision.reason.empty());
      break;
  }
}

void CheckRequest(std::string_view bytes) {
  const HeadScan scan = ScanRequestHead(bytes);
  if (scan.state == HeadScan::State::Refused) {
    Require(scan.status == 400 || scan.status == 414 || scan.status == 431);
    return;
  }
  if (scan.state == HeadScan::State::Incomplete) return;
  Require(scan.skip + scan.size <= bytes.size());
  const std::string_view head = bytes.substr(scan.skip, scan.size);
  Require(head.substr(head.size() - 4) == "\r\n\r\n" && head.find("\r\n") <= MaxRequestLine);
  RequestParser parser;
  if (CheckRequestHead(parser, head).status != 0) return;
  Require(parser.is_header_done());
  Require(!(parser.chunked() && parser.content_length()));
  CheckRoute(parser.get());
  CheckStripped(parser.get());
}

void CheckResponse(std::string_view bytes) {
  http::response_parser<http::buffer_body> parser;
  parser.header_limit(static_cast<std::uint32_t>(MaxHeaderBlock));
  LiftBodyLimit(parser);
  boost::beast::error_code error;
  parser.put(boost::asio::buffer(bytes.data(), bytes.size()), error);
  if (error || !parser.is_header_done()) return;
  CheckStripped(parser.get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckRequest(bytes);
  CheckResponse(bytes);
  return 0;
}
