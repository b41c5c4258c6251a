// Any bytes as a request head arriving at the proxy (plain, or inside a
// tunnel it decrypts), as a response head arriving from a server, and as a
// server name: the head limits, Beast's parser with the checks against
// smuggling, the route taken and the fields stripped before a message goes
// on, the names leaves are made for, with the promises each of them makes.
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

void CheckDecision(const RouteDecision& decision) {
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

// Plain, and inside a tunnel the proxy decrypts: there a request never
// reaches another server than the tunnel's, and never opens a tunnel.
void CheckRoute(const http::request_header<>& header) {
  CheckDecision(DecideRoute(header.method(), View(header.target())));
  const Authority tunnel{"tracker.test", 443};
  const RouteDecision inside = DecideInterceptedRoute(header.method(), View(header.target()), tunnel);
  CheckDecision(inside);
  Require(inside.route != Route::Tunnel);
  if (inside.route == Route::Forward) {
    Require(inside.url.server == tunnel && inside.url.tls);
    const auto again = ParseHttpUrl(inside.url.text);
    Require(again && again->server == tunnel && again->tls && again->originTarget == inside.url.originTarget);
  }
}

// A server name a client sends (the host of a URL, SNI) is accepted only as
// a name a certificate can be made for.
void CheckHostName(std::string_view bytes) {
  const auto name = HostName(bytes.substr(0, bytes.find('\r')));
  if (!name) return;
  Require(!name->empty() && name->size() <= 253);
  Require(name->find_first_of(std::string_view("*/:@ ,\0", 7)) == std::string::npos);
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
  CheckHostName(bytes);
  return 0;
}
