#include <string>
#include <string_view>

#include "url_parser/parsed_url.h"
#include "url_parser/special_schemes.h"
#include "url_parser/url_messages.h"

namespace orv::network {
namespace {

// Query and fragment are written when they have text or their delimiter was
// seen; text together with the "empty" flag cannot be written faithfully.
bool IsPresent(std::string_view part, bool emptyFlag, const char* inconsistency) {
  if (!part.empty() && emptyFlag) throw UrlSyntaxError(inconsistency);
  return !part.empty() || emptyFlag;
}

void AppendUserInformation(const ParsedUrl& url, std::string& out) {
  const std::string_view user = url.Part(UrlPart::User);
  if (user.empty()) {
    if (url.Flag(UrlFlag::EmptyLogin)) out += '@';
    return;
  }
  if (url.Flag(UrlFlag::EmptyLogin)) throw UrlSyntaxError(url_messages::kInconsistentLogin);
  out += user;
  const std::string_view password = url.Part(UrlPart::Password);
  if (IsPresent(password, url.Flag(UrlFlag::EmptyPassword), url_messages::kInconsistentPassword)) {
    out += ':';
    out += password;
  }
  out += '@';
}

void AppendHost(std::string_view host, std::string& out) {
  // A bare IPv6 address (set by a script, say) needs its brackets back.
  const bool needsBrackets = host.find(':') != std::string_view::npos && host.front() != '[';
  if (needsBrackets) out += '[';
  out += host;
  if (needsBrackets) out += ']';
}

}  // namespace

std::string ParsedUrl::Serialise() const {
  const std::string_view scheme = Part(UrlPart::Scheme);
  const std::string_view user = Part(UrlPart::User);
  const std::string_view password = Part(UrlPart::Password);
  const std::string_view host = Part(UrlPart::Host);
  const std::string_view port = Part(UrlPart::Port);
  const std::string_view path = Part(UrlPart::Path);
  const std::string_view query = Part(UrlPart::Query);
  const std::string_view fragment = Part(UrlPart::Fragment);

  // A port or user name left behind by EraseHost must still be refused, so
  // only a URL with no parts at all is the bare "/".
  if (scheme.empty() && user.empty() && host.empty() && port.empty() && path.empty() &&
      query.empty() && fragment.empty()) {
    return "/";
  }

  std::string out;
  out.reserve(scheme.size() + user.size() + password.size() + host.size() + port.size() +
              path.size() + query.size() + fragment.size() + 12);
  if (!scheme.empty()) {
    out += scheme;
    out += ':';
  }
  const bool hasQuery = IsPresent(query, Flag(UrlFlag::EmptyQuery), url_messages::kInconsistentQuery);
  const bool hasFragment =
      IsPresent(fragment, Flag(UrlFlag::EmptyFragment), url_messages::kInconsistentFragment);
  const bool hasPathPart = !path.empty() || hasQuery || hasFragment;
  if (user.empty() && !password.empty()) throw UrlSyntaxError(url_messages::kPasswordWithoutUser);

  if (host.empty()) {
    if (!port.empty()) throw UrlSyntaxError(url_messages::kPortWithoutHost);
    if (!user.empty()) throw UrlSyntaxError(url_messages::kUserWithoutHostSerialise);
    if (!hasPathPart) throw UrlSyntaxError(url_messages::kNoAuthorityNorPath);
    if (IsFileScheme(scheme)) out += "//";
  } else {
    if (!scheme.empty()) out += "//";
    AppendUserInformation(*this, out);
    AppendHost(host, out);
    if (!port.empty()) {
      out += ':';
      out += port;
    }
    if (!hasPathPart) return out;
  }

  // "file:" without a host already wrote "//", so a path that brings its own
  // slashes must not get a third. With a host the '/' ends the authority and
  // is always needed, or "file://h//x" would lose a slash.
  const bool pathTakesNoSlash = IsMailtoScheme(scheme) || IsBlobScheme(scheme) ||
                                (IsFileScheme(scheme) && host.empty() && path.starts_with('/'));
  if (!pathTakesNoSlash) out += '/';
  out += path;
  if (hasQuery) {
    out += '?';
    out += query;
  }
  if (hasFragment) {
    out += '#';
    out += fragment;
  }
  return out;
}

}  // namespace orv::network
