// The proxy's decisions on a request head, before any connection is made:
// where it goes (an http:// URL forwarded, a CONNECT tunnel, or refused) and
// which fields belong to one connection only and never travel on.
#pragma once

#include <boost/beast/core/string.hpp>
#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/verb.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dnt_proxy {

namespace http = boost::beast::http;

/// Beast's string views (Boost's own type) as standard ones.
inline std::string_view View(boost::beast::string_view text) { return {text.data(), text.size()}; }

/// A server: host name or address (lower-case; an IPv6 address without its
/// brackets) and port.
struct Authority {
  std::string host;
  uint16_t port = 0;
  /// The host, an IPv6 address in brackets.
  std::string HostText() const;
  /// "host:port", with an IPv6 address in brackets.
  std::string Text() const;
  friend bool operator==(const Authority&, const Authority&) = default;
};

/// "host:port" or "[v6]:port" (port 0 to 65535); nullopt when it is not one. With
/// `defaultPort`, the port may be left out.
std::optional<Authority> ParseAuthority(std::string_view text, std::optional<uint16_t> defaultPort = std::nullopt);

/// `text` as a server name (lower-case) when it is one: letters, digits,
/// '.', '-', '_' and '~', at most 253 of them.
std::optional<std::string> HostName(std::string_view text);

/// True when `host` is an IPv4 or IPv6 address (without brackets).
bool IsIpAddress(const std::string& host);

/// An absolute http:// or https:// URL taken apart for forwarding.
struct HttpUrl {
  Authority server;
  /// https://: the server is reached over TLS.
  bool tls = false;
  /// The path and query: the target in origin form.
  std::string originTarget;
  /// The URL without its fragment, as the engine is given it.
  std::string text;
};

/// nullopt when `url` is not an absolute http:// or https:// URL with a
/// host.
std::optional<HttpUrl> ParseHttpUrl(std::string_view url);

/// The Host field for `server`: the port only when it is not the scheme's
/// own.
std::string HostField(const Authority& server, bool tls);

enum class Route { Forward, Tunnel, Refuse };

struct RouteDecision {
  Route route = Route::Refuse;
  /// Refuse: the status and why.
  unsigned status = 400;
  std::string reason;
  /// Forward: the URL. Tunnel: the URL's server is the CONNECT target.
  HttpUrl url;
};

/// Where a request with `method` and `target` goes: CONNECT host:port
/// tunnels, an absolute http:// target is forwarded; anything else (an
/// origin-form target, https:// without CONNECT) is refused.
RouteDecision DecideRoute(http::verb method, std::string_view target);

/// The same for a request read inside a TLS tunnel to `server` that the
/// proxy decrypts: an origin-form target, or an https:// URL of that very
/// server, is forwarded to it over TLS; anything else is refused (a client
/// cannot reach another server through the tunnel).
RouteDecision DecideInterceptedRoute(http::verb method, std::string_view target, const Authority& server);

/// How a message's body is delimited, taken before its framing fields are
/// removed.
struct Framing {
  bool chunked = false;
  std::optional<uint64_t> contentLength;
};

/// Removes Connection and every field it names, Keep-Alive,
/// Proxy-Connection, Proxy-Authenticate, Proxy-Authorization, TE, Trailer,
/// Transfer-Encoding and Upgrade. With `keepUpgrade` (a WebSocket handshake
/// being relayed), Upgrade stays and Connection becomes "upgrade".
void RemoveHopByHop(http::fields& fields, bool keepUpgrade);

/// The transfer codings of a message's body other than a last "chunked"
/// ("gzip" for "gzip, chunked"), as one list; empty when it has none.
std::string TransferCodings(const http::fields& fields);

/// True when the request asks to switch to WebSocket.
bool IsWebSocketUpgrade(const http::fields& fields);

/// The token this proxy adds to Via, and finds there when a request comes
/// round again.
inline constexpr std::string_view ViaName = "dnt-proxy";

/// Appends "1.1 dnt-proxy" to Via.
void AddVia(http::fields& fields);

/// True when Via shows this proxy already passed the message on.
bool ViaNamesProxy(const http::fields& fields);

}  // namespace dnt_proxy
