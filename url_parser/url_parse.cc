#include <algorithm>
#include <string_view>

#include "url_parser/parsed_url.h"
#include "url_parser/special_schemes.h"
#include "url_parser/url_messages.h"

namespace orv::network {
namespace {

// Byte sets as lookup tables: find_first_of would rescan the set per byte.
class ByteSet {
 public:
  constexpr explicit ByteSet(std::string_view members) {
    for (char c : members) m_members[static_cast<unsigned char>(c)] = true;
  }
  constexpr bool Contains(char c) const { return m_members[static_cast<unsigned char>(c)]; }

 private:
  bool m_members[256] = {};
};

constexpr ByteSet kSchemeDelimiters(":?/@#");
constexpr ByteSet kAuthorityEnd("/?#");

bool IsAsciiLetter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool IsSchemeName(std::string_view name) noexcept {
  if (name.empty() || !IsAsciiLetter(name.front())) return false;
  for (char c : name.substr(1)) {
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

bool AllDigits(std::string_view text) noexcept {
  for (char c : text) {
    if (!IsAsciiDigit(c)) return false;
  }
  return true;
}

}  // namespace

// Fills a ParsedUrl from its own m_text. Positions are offsets into that
// text; every search is bounded by its end.
class UrlParser {
 public:
  explicit UrlParser(ParsedUrl& url) : m_url(url), m_text(url.m_text) {}

  void Run() {
    std::size_t start = 0;
    if (m_text.empty()) return;
    if (StartsWithUrlPrefix(m_text)) {
      start = 4;
      if (start == m_text.size()) return;
    }
    const std::size_t colon = FindFirstOf(kSchemeDelimiters, start);
    if (colon == End() || m_text[colon] != ':') return ParseAuthority(start);
    ParseAfterColon(start, colon);
  }

 private:
  std::size_t End() const noexcept { return m_text.size(); }

  std::size_t FindFirstOf(const ByteSet& set, std::size_t from) const noexcept {
    while (from < End() && !set.Contains(m_text[from])) ++from;
    return from;
  }
  std::size_t Find(char c, std::size_t from, std::size_t to) const noexcept {
    const std::size_t at = m_text.substr(0, to).find(c, from);
    return at == std::string_view::npos ? to : at;
  }
  std::size_t FindLast(char c, std::size_t from, std::size_t to) const noexcept {
    if (from >= to) return to;
    const std::size_t at = m_text.substr(from, to - from).rfind(c);
    return at == std::string_view::npos ? to : from + at;
  }

  void Set(UrlPart part, std::size_t begin, std::size_t end) noexcept {
    m_url.m_parts[ParsedUrl::Index(part)] = ParsedUrl::PartRange{begin, end, false};
  }
  bool IsEmpty(UrlPart part) const noexcept {
    const auto& range = m_url.m_parts[ParsedUrl::Index(part)];
    return range.begin == range.end;
  }
  void Raise(UrlFlag flag) noexcept { m_url.SetFlag(flag, true); }

  // The first delimiter is a ':' at `colon`; decide whether what precedes it
  // is a scheme, a host followed by a port, or a user name.
  void ParseAfterColon(std::size_t start, std::size_t colon) {
    const std::string_view candidate = m_text.substr(start, colon - start);
    const std::size_t afterColon = colon + 1;
    if (IsMailtoScheme(candidate) || IsBlobScheme(candidate)) {
      Set(UrlPart::Scheme, start, colon);
      return ParsePathQueryFragment(afterColon);
    }
    if (IsFileScheme(candidate)) {
      Set(UrlPart::Scheme, start, colon);
      return ParseFileRest(afterColon);
    }
    if (m_text.substr(afterColon, 2) == "//") {
      Set(UrlPart::Scheme, start, colon);
      return ParseAuthority(afterColon + 2);
    }
    const std::size_t next = FindFirstOf(kSchemeDelimiters, afterColon);
    if (next == End() || m_text[next] == '/') {
      if (AllDigits(m_text.substr(afterColon, next - afterColon))) return ParseAuthority(start);
    } else if (m_text[next] == '@') {
      return ParseAuthority(start);
    }
    if (!IsSchemeName(candidate)) return ParseAuthority(start);
    Set(UrlPart::Scheme, start, colon);
    ParsePathQueryFragment(afterColon);
  }

  // "file:" has an authority only after exactly two slashes; otherwise the
  // slashes are eaten, but from four on two of them belong to the path.
  void ParseFileRest(std::size_t afterColon) {
    std::size_t slashes = 0;
    while (afterColon + slashes < End() && m_text[afterColon + slashes] == '/') ++slashes;
    if (slashes == 2) return ParseAuthority(afterColon + 2);
    ParsePathQueryFragment(afterColon + (slashes > 3 ? 2 : slashes));
  }

  void ParseAuthority(std::size_t begin) {
    if (begin == End()) throw UrlSyntaxError(url_messages::kNoAuthority);
    const std::size_t end = FindFirstOf(kAuthorityEnd, begin);
    const std::size_t hostBegin = ParseUserInformation(begin, end);
    if (hostBegin < end) ParseHostAndPort(hostBegin, end);
    if (IsEmpty(UrlPart::Host) && !IsEmpty(UrlPart::User)) {
      throw UrlSyntaxError(url_messages::kUserWithoutHostParse);
    }
    const std::size_t pathBegin = (end < End() && m_text[end] == '/') ? end + 1 : end;
    ParsePathQueryFragment(pathBegin);
  }

  // Returns where the host starts. The user information runs to the last
  // '@', so an '@' inside a password is kept rather than dropped.
  std::size_t ParseUserInformation(std::size_t begin, std::size_t end) {
    const std::size_t at = FindLast('@', begin, end);
    if (at == end) return begin;
    const std::size_t colon = Find(':', begin, at);
    const bool emptyUser = colon == begin;
    const bool hasPassword = colon + 1 < at;
    if (emptyUser && hasPassword) throw UrlSyntaxError(url_messages::kPasswordWithoutUser);
    if (emptyUser) Raise(UrlFlag::EmptyLogin);
    if (colon + 1 == at) Raise(UrlFlag::EmptyPassword);
    Set(UrlPart::User, begin, colon);
    // An absent or empty password sits at the ':' (or '@'), so that
    // UserInformation's user..password span ends with the user name.
    if (hasPassword) {
      Set(UrlPart::Password, colon + 1, at);
    } else {
      Set(UrlPart::Password, colon, colon);
    }
    return at + 1;
  }

  void ParseHostAndPort(std::size_t begin, std::size_t end) {
    std::size_t searchFrom = begin;
    if (m_text[begin] == '[') {
      const std::size_t close = Find(']', begin, end);
      if (close == end) throw UrlSyntaxError(url_messages::kUnclosedIpv6);
      searchFrom = close + 1;
    }
    // Anything between ']' and ':' stays in the host instead of vanishing.
    const std::size_t hostEnd = Find(':', searchFrom, end);
    Set(UrlPart::Host, begin, hostEnd);
    if (hostEnd == end) return;
    Set(UrlPart::Port, hostEnd + 1, end);
    if (hostEnd + 1 == end && IsEmpty(UrlPart::Scheme)) {
      throw UrlSyntaxError(url_messages::kColonWithoutPort);
    }
    if (hostEnd == begin && hostEnd + 1 < end) throw UrlSyntaxError(url_messages::kPortWithoutHost);
  }

  void ParsePathQueryFragment(std::size_t begin) {
    const std::size_t question = Find('?', begin, End());
    const std::size_t hash = Find('#', begin, End());
    Set(UrlPart::Path, begin, std::min(question, hash));
    if (question < hash) {
      Set(UrlPart::Query, question + 1, hash);
      if (question + 1 == hash) Raise(UrlFlag::EmptyQuery);
    }
    if (hash < End()) {
      Set(UrlPart::Fragment, hash + 1, End());
      if (hash + 1 == End()) Raise(UrlFlag::EmptyFragment);
    }
  }

  ParsedUrl& m_url;
  std::string_view m_text;
};

ParsedUrl ParsedUrl::Parse(std::string_view text) {
  ParsedUrl url;
  url.m_text.assign(text);
  UrlParser(url).Run();
  return url;
}

}  // namespace orv::network
