#include "tools/dnt_proxy/forwarding.h"

#include <algorithm>
#include <array>
#include <boost/asio/ip/address.hpp>
#include <boost/beast/http/rfc7230.hpp>
#include <vector>

#include "url_parser/special_schemes.h"

namespace dnt_proxy {
namespace {

using orv::network::AsciiLowercase;
using orv::network::EqualsIgnoringAsciiCase;

constexpr std::string_view HttpScheme = "http://";
constexpr std::string_view HttpsScheme = "https://";

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_' || c == '~';
}

bool IsAddressV6Char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

std::optional<uint16_t> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const unsigned long port = std::stoul(std::string(text));
  if (port > 65535) return std::nullopt;
  return static_cast<uint16_t>(port);
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

// The comma-separated elements of every line of `name`.
template <class Visit>
void ForEachListElement(const http::fields& fields, http::field name, Visit&& visit) {
  for (auto [it, end] = fields.equal_range(name); it != end; ++it) {
    for (const auto& element : http::token_list(it->value())) visit(View(element));
  }
}

}  // namespace

std::optional<std::string> HostName(std::string_view text) {
  if (text.empty() || text.size() > 253 || !std::all_of(text.begin(), text.end(), IsNameChar)) return std::nullopt;
  return AsciiLowercase(text);
}

bool IsIpAddress(const std::string& host) {
  boost::system::error_code error;
  boost::asio::ip::make_address(host, error);
  return !error;
}

std::string Authority::HostText() const { return host.find(':') != std::string::npos ? "[" + host + "]" : host; }

std::string Authority::Text() const { return HostText() + ":" + std::to_string(port); }

std::optional<Authority> ParseAuthority(std::string_view text, std::optional<uint16_t> defaultPort) {
  std::string_view host;
  std::string_view rest;
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = text.substr(1, close - 1);
    if (host.empty() || !std::all_of(host.begin(), host.end(), IsAddressV6Char)) return std::nullopt;
    rest = text.substr(close + 1);
  } else {
    const auto colon = text.find(':');
    host = text.substr(0, colon);
    if (host.empty() || !std::all_of(host.begin(), host.end(), IsNameChar)) return std::nullopt;
    rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
  }
  std::optional<uint16_t> port = defaultPort;
  if (!rest.empty()) {
    if (rest.front() != ':') return std::nullopt;
    if (rest.size() > 1 || !defaultPort) port = ParsePort(rest.substr(1));
  }
  if (!port) return std::nullopt;
  return Authority{AsciiLowercase(host), *port};
}

std::optional<HttpUrl> ParseHttpUrl(std::string_view url) {
  const bool tls = StartsWithIgnoringCase(url, HttpsScheme);
  if (!tls && !StartsWithIgnoringCase(url, HttpScheme)) return std::nullopt;
  url = url.substr(0, url.find('#'));
  const std::string_view afterScheme = url.substr(tls ? HttpsScheme.size() : HttpScheme.size());
  const auto authorityEnd = afterScheme.find_first_of("/?");
  const std::string_view authority = afterScheme.substr(0, authorityEnd);
  if (authority.find('@') != std::string_view::npos) return std::nullopt;
  auto server = ParseAuthority(authority, tls ? 443 : 80);
  if (!server) return std::nullopt;
  std::string originTarget(authorityEnd == std::string_view::npos ? std::string_view() : afterScheme.substr(authorityEnd));
  if (originTarget.empty() || originTarget.front() != '/') originTarget.insert(0, "/");
  return HttpUrl{std::move(*server), tls, std::move(originTarget), std::string(url)};
}

std::string HostField(const Authority& server, bool tls) {
  return server.port == (tls ? 443 : 80) ? server.HostText() : server.Text();
}

RouteDecision DecideRoute(http::verb method, std::string_view target) {
  RouteDecision decision;
  if (method == http::verb::connect) {
    if (auto server = ParseAuthority(target)) {
      decision.route = Route::Tunnel;
      decision.url.server = std::move(*server);
    } else {
      decision.reason = "CONNECT needs a target of the form host:port";
    }
    return decision;
  }
  if (!target.empty() && (target.front() == '/' || target == "*")) {
    decision.reason = "not a proxy request: the target names no server";
  } else if (StartsWithIgnoringCase(target, "https://")) {
    decision.reason = "https:// is reached through CONNECT";
  } else if (!StartsWithIgnoringCase(target, HttpScheme)) {
    decision.reason = "only http:// URLs are forwarded";
  } else if (auto url = ParseHttpUrl(target)) {
    decision.route = Route::Forward;
    decision.url = std::move(*url);
  } else {
    decision.reason = "the URL names no valid server";
  }
  return decision;
}

RouteDecision DecideInterceptedRoute(http::verb method, std::string_view target, const Authority& server) {
  RouteDecision decision;
  if (method == http::verb::connect) {
    decision.reason = "CONNECT inside a tunnel";
  } else if (!target.empty() && target.front() == '/') {
    decision.route = Route::Forward;
    decision.url = {server, true, std::string(target.substr(0, target.find('#'))), ""};
    decision.url.text = std::string(HttpsScheme) + HostField(server, true) + decision.url.originTarget;
  } else if (auto url = ParseHttpUrl(target); url && url->tls && url->server == server) {
    decision.route = Route::Forward;
    decision.url = std::move(*url);
  } else {
    decision.reason = "inside the tunnel to " + server.Text() + " a request names no other server";
  }
  return decision;
}

void RemoveHopByHop(http::fields& fields, bool keepUpgrade) {
  std::vector<std::string> named;
  ForEachListElement(fields, http::field::connection, [&](std::string_view name) {
    if (!keepUpgrade || !EqualsIgnoringAsciiCase(name, "upgrade")) named.emplace_back(name);
  });
  for (const std::string& name : named) fields.erase(name);
  static constexpr std::array fixed = {http::field::connection,         http::field::keep_alive,
                                       http::field::proxy_connection,   http::field::proxy_authenticate,
                                       http::field::proxy_authorization, http::field::te,
                                       http::field::trailer,            http::field::transfer_encoding};
  for (const http::field field : fixed) fields.erase(field);
  if (keepUpgrade) {
    fields.set(http::field::connection, "upgrade");
  } else {
    fields.erase(http::field::upgrade);
  }
}

std::string TransferCodings(const http::fields& fields) {
  std::string codings;
  for (auto [it, end] = fields.equal_range(http::field::transfer_encoding); it != end; ++it) {
    if (!codings.empty()) codings += ", ";
    codings.append(View(it->value()));
  }
  const auto trimmed = [&codings] {
    while (!codings.empty() && (codings.back() == ' ' || codings.back() == '\t' || codings.back() == ',')) codings.pop_back();
  };
  trimmed();
  const std::size_t comma = codings.rfind(',');
  std::string_view last = std::string_view(codings).substr(comma == std::string::npos ? 0 : comma + 1);
  last.remove_prefix(std::min(last.find_first_not_of(" \t"), last.size()));
  if (EqualsIgnoringAsciiCase(last, "chunked")) {
    codings.resize(comma == std::string::npos ? 0 : comma);
    trimmed();
  }
  return codings;
}

bool IsWebSocketUpgrade(const http::fields& fields) {
  bool connection = false;
  bool websocket = false;
  ForEachListElement(fields, http::field::connection, [&](std::string_view token) { connection |= EqualsIgnoringAsciiCase(token, "upgrade"); });
  ForEachListElement(fields, http::field::upgrade, [&](std::string_view token) { websocket |= EqualsIgnoringAsciiCase(token, "websocket"); });
  return connection && websocket;
}

void AddVia(http::fields& fields) { fields.insert(http::field::via, std::string("1.1 ").append(ViaName)); }

bool ViaNamesProxy(const http::fields& fields) {
  bool found = false;
  for (auto [it, end] = fields.equal_range(http::field::via); it != end; ++it) {
    // Each element is "protocol pseudonym [comment]", separated by commas.
    const std::string_view value = View(it->value());
    for (std::size_t begin = 0; begin < value.size() && !found;) {
      const std::size_t comma = std::min(value.find(',', begin), value.size());
      std::string_view element = value.substr(begin, comma - begin);
      element.remove_prefix(std::min(element.find_first_not_of(" \t"), element.size()));
      const std::size_t space = element.find(' ');
      if (space != std::string_view::npos) {
        std::string_view pseudonym = element.substr(space + 1);
        pseudonym = pseudonym.substr(0, pseudonym.find_first_of(" \t"));
        found = EqualsIgnoringAsciiCase(pseudonym, ViaName);
      }
      begin = comma + 1;
    }
  }
  return found;
}

}  // namespace dnt_proxy
