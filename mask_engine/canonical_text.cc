#include "mask_engine/canonical_text.h"

#include <array>

namespace mask_engine {

namespace {

constexpr std::array<bool, 256> MakeEscapedClass() {
  std::array<bool, 256> escaped{};
  for (int c = 0; c < 256; ++c) escaped[c] = c <= 0x20 || c >= 0x7F;
  for (unsigned char c : std::string_view("\"#<>@[]^`{|}")) escaped[c] = true;
  return escaped;
}
constexpr std::array<bool, 256> kEscaped = MakeEscapedClass();

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSchemeChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-';
}

bool IsLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool EndsAuthority(char c) { return c == '/' || c == '?' || c == '#'; }

size_t FindAuthorityEnd(std::string_view text, size_t from) {
  while (from < text.size() && !EndsAuthority(text[from])) ++from;
  return from;
}

// Length of "scheme:" plus its slashes, or 0 when the text has none.
size_t SchemePrefixLength(std::string_view text) {
  if (text.empty() || !IsLetter(static_cast<unsigned char>(text[0]))) return 0;
  size_t i = 1;
  while (i < text.size() && IsSchemeChar(static_cast<unsigned char>(text[i]))) ++i;
  if (i >= text.size() || text[i] != ':') return 0;
  ++i;
  while (i < text.size() && text[i] == '/') ++i;
  return i;
}

// The byte at `i`, with "%hh" standing for the byte it encodes; advances `i`.
unsigned char NextByte(std::string_view bytes, size_t& i) {
  const auto c = static_cast<unsigned char>(bytes[i]);
  if (c == '%' && bytes.size() - i >= 3) {
    const int high = HexValue(static_cast<unsigned char>(bytes[i + 1]));
    const int low = HexValue(static_cast<unsigned char>(bytes[i + 2]));
    if (high >= 0 && low >= 0) {
      i += 3;
      return static_cast<unsigned char>(high * 16 + low);
    }
  }
  ++i;
  return c;
}

void AppendCanonical(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size();) {
    unsigned char c = NextByte(bytes, i);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (kEscaped[c]) {
      const char escape[] = {'%', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      out.append(escape, sizeof escape);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
}

}  // namespace

UrlParts SplitUrl(std::string_view text) {
  UrlParts parts;
  const size_t authority = SchemePrefixLength(text);
  const size_t authorityEnd = FindAuthorityEnd(text, authority);
  const size_t at = text.substr(authority, authorityEnd - authority).rfind('@');
  parts.hostBegin = at == std::string_view::npos ? authority : authority + at + 1;

  size_t hostEnd = parts.hostBegin;
  if (hostEnd < text.size() && text[hostEnd] == '[') {
    const size_t close = text.find(']', hostEnd);
    hostEnd = close == std::string_view::npos ? authorityEnd : close + 1;
  } else {
    while (hostEnd < text.size() && text[hostEnd] != ':' && !EndsAuthority(text[hostEnd])) ++hostEnd;
  }
  parts.hostEnd = hostEnd;
  // Port, and anything malformed after a bracketed host, is not used.
  parts.restBegin = FindAuthorityEnd(text, hostEnd);
  return parts;
}

void CanonicalText::Build(const char* text, uint32_t length) {
  const std::string_view raw = length == 0 ? std::string_view() : std::string_view(text, length);
  const UrlParts parts = SplitUrl(raw);
  m_buffer.clear();

  std::string_view host = raw.substr(parts.hostBegin, parts.hostEnd - parts.hostBegin);
  while (!host.empty() && host.back() == '.') host.remove_suffix(1);
  AppendCanonical(m_buffer, host);
  m_hostEnd = m_buffer.size();
  m_begin = m_hostEnd >= 4 && m_buffer.compare(0, 4, "www.") == 0 ? 4 : 0;

  std::string_view rest = raw.substr(parts.restBegin);
  while (rest.size() >= 2 && rest[0] == '/' && rest[1] == '/') rest.remove_prefix(1);
  rest = rest.substr(0, rest.find('#'));
  AppendCanonical(m_buffer, rest);
  if (m_buffer.size() > m_hostEnd && m_buffer.back() == '/') m_buffer.pop_back();
}

}  // namespace mask_engine
