#include "mask_engine/canonical_text.h"

#include <array>

namespace mask_engine {

namespace {

// What canonical form makes of a byte; separators are copied and noted.
enum ByteClass : uint8_t { kCopy, kLower, kEscape, kPercent, kSeparator };

constexpr std::array<uint8_t, 256> MakeByteClasses() {
  std::array<uint8_t, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    if (c <= 0x20 || c >= 0x7F) classes[c] = kEscape;
    if (c >= 'A' && c <= 'Z') classes[c] = kLower;
  }
  for (unsigned char c : std::string_view("\"#<>@[]^`{|}")) classes[c] = kEscape;
  classes['%'] = kPercent;
  classes['.'] = classes['/'] = kSeparator;
  return classes;
}
constexpr std::array<uint8_t, 256> kByteClass = MakeByteClasses();

// What splitting a URL looks for.
enum UrlChar : uint8_t { kSchemeChar = 1, kEndsAuthority = 2, kAt = 4, kColon = 8, kLetter = 16 };

constexpr std::array<uint8_t, 256> MakeUrlChars() {
  std::array<uint8_t, 256> chars{};
  for (int c = 0; c < 256; ++c) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (letter) chars[c] |= kLetter;
    if (letter || (c >= '0' && c <= '9') || c == '+' || c == '-') chars[c] |= kSchemeChar;
  }
  chars['/'] = chars['?'] = chars['#'] = kEndsAuthority;
  chars['@'] = kAt;
  chars[':'] = kColon;
  return chars;
}
constexpr std::array<uint8_t, 256> kUrlChar = MakeUrlChars();

uint8_t UrlCharOf(char c) { return kUrlChar[static_cast<unsigned char>(c)]; }

// Each escape "%u00hh" takes six bytes for one.
constexpr size_t kMaxGrowth = 6;

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

size_t FindAuthorityEnd(std::string_view text, size_t from) {
  while (from < text.size() && (UrlCharOf(text[from]) & kEndsAuthority) == 0) ++from;
  return from;
}

// Length of "scheme:" plus its slashes, or 0 when the text has none.
size_t SchemePrefixLength(std::string_view text) {
  if (text.empty() || (UrlCharOf(text[0]) & kLetter) == 0) return 0;
  size_t i = 1;
  while (i < text.size() && (UrlCharOf(text[i]) & kSchemeChar) != 0) ++i;
  if (i >= text.size() || text[i] != ':') return 0;
  ++i;
  while (i < text.size() && text[i] == '/') ++i;
  return i;
}

}  // namespace

UrlParts SplitUrl(std::string_view text) {
  UrlParts parts;
  const size_t authority = SchemePrefixLength(text);
  // One pass over the authority: the host starts after its last '@' and
  // ends at the first ':' after that.
  size_t end = authority;
  size_t afterLastAt = authority;
  size_t colon = std::string_view::npos;
  for (; end < text.size(); ++end) {
    const uint8_t c = UrlCharOf(text[end]);
    if ((c & (kEndsAuthority | kAt | kColon)) == 0) continue;
    if ((c & kEndsAuthority) != 0) break;
    if ((c & kAt) != 0) {
      afterLastAt = end + 1;
      colon = std::string_view::npos;
    } else if (colon == std::string_view::npos) {
      colon = end;
    }
  }
  parts.hostBegin = afterLastAt;
  size_t hostEnd = colon == std::string_view::npos ? end : colon;
  if (parts.hostBegin < text.size() && text[parts.hostBegin] == '[') {
    const size_t close = text.find(']', parts.hostBegin);
    hostEnd = close == std::string_view::npos ? end : close + 1;
  }
  parts.hostEnd = hostEnd;
  // Port, and anything malformed after a bracketed host, is not used.
  parts.restBegin = hostEnd <= end ? end : FindAuthorityEnd(text, hostEnd);
  return parts;
}

// Writes `bytes` in canonical form at `at`; returns the end. The buffer has
// room for the worst case.
size_t CanonicalText::Append(size_t at, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  char* out = m_buffer.data() + at;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = p + bytes.size();
  while (p < end) {
    // Most bytes are copied as they are.
    while (p < end && kByteClass[*p] == kCopy) *out++ = static_cast<char>(*p++);
    if (p == end) break;
    unsigned char c = *p++;
    uint8_t cls = kByteClass[c];
    if (cls == kPercent) {
      const int high = end - p >= 2 ? HexValue(p[0]) : -1;
      const int low = high >= 0 ? HexValue(p[1]) : -1;
      if (low >= 0) {
        c = static_cast<unsigned char>(high * 16 + low);
        p += 2;
      }
      // A decoded '%' is a plain byte.
      cls = c == '%' ? uint8_t{kCopy} : kByteClass[c];
    }
    if (cls == kSeparator) m_separators.push_back(static_cast<size_t>(out - m_buffer.data()));
    if (cls == kEscape) {
      const char escape[kMaxGrowth] = {'%', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      for (char e : escape) *out++ = e;
    } else {
      *out++ = static_cast<char>(cls == kLower ? c - 'A' + 'a' : c);
    }
  }
  return static_cast<size_t>(out - m_buffer.data());
}

// Host and rest that meet in the raw text and need no change are used
// where they lie; only their separators are noted.
bool CanonicalText::UseInPlace(std::string_view raw, const UrlParts& parts) {
  if (parts.hostEnd != parts.restBegin || (parts.hostEnd > parts.hostBegin && raw[parts.hostEnd - 1] == '.')) {
    return false;
  }
  const std::string_view text = raw.substr(parts.hostBegin);
  if (text.size() - (parts.hostEnd - parts.hostBegin) >= 2 && text.substr(parts.hostEnd - parts.hostBegin, 2) == "//") {
    return false;
  }
  const size_t hostLength = parts.hostEnd - parts.hostBegin;
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t cls = kByteClass[static_cast<unsigned char>(text[i])];
    if (cls == kCopy) continue;
    if (cls != kSeparator) {
      m_separators.clear();
      return false;
    }
    m_separators.push_back(i);
  }
  m_hostSeparators = 0;
  while (m_hostSeparators < m_separators.size() && m_separators[m_hostSeparators] < hostLength) ++m_hostSeparators;
  m_base = text.data();
  m_hostEnd = hostLength;
  m_end = text.size();
  return true;
}

void CanonicalText::Build(const char* text, uint32_t length) {
  const std::string_view raw = length == 0 ? std::string_view() : std::string_view(text, length);
  const UrlParts parts = SplitUrl(raw);
  m_separators.clear();
  if (!UseInPlace(raw, parts)) {
    if (m_buffer.size() < kMaxGrowth * raw.size()) m_buffer.resize(kMaxGrowth * raw.size());
    m_base = m_buffer.data();
    std::string_view host = raw.substr(parts.hostBegin, parts.hostEnd - parts.hostBegin);
    while (!host.empty() && host.back() == '.') host.remove_suffix(1);
    m_hostEnd = Append(0, host);
    m_hostSeparators = m_separators.size();
    std::string_view rest = raw.substr(parts.restBegin);
    while (rest.size() >= 2 && rest[0] == '/' && rest[1] == '/') rest.remove_prefix(1);
    rest = rest.substr(0, rest.find('#'));
    m_end = Append(m_hostEnd, rest);
  }
  Finish();
}

// One leading "www." and one trailing '/' go; separators count from the
// text's start.
void CanonicalText::Finish() {
  m_begin = m_hostEnd >= 4 && std::string_view(m_base, 4) == "www." ? 4 : 0;
  if (m_end > m_hostEnd && m_base[m_end - 1] == '/') {
    --m_end;
    m_separators.pop_back();
  }
  size_t kept = 0;
  for (const size_t position : m_separators) {
    if (position >= m_begin) m_separators[kept++] = position - m_begin;
  }
  m_hostSeparators -= m_separators.size() - kept;
  m_separators.resize(kept);
}

}  // namespace mask_engine
