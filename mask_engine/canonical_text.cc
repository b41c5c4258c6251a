#include "mask_engine/canonical_text.h"

#include <array>
#include <bit>
#include <cstring>

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

// What the in-place scan makes of a byte: kept as it is, a separator, the
// end of the host, the start of the fragment, or one that needs changing
// (or, in the host, a port or user information).
enum ScanClass : uint8_t { kPlain, kDot, kSlash, kQuestion, kHash, kOther };

constexpr std::array<uint8_t, 256> MakeScanClasses(bool host) {
  std::array<uint8_t, 256> classes{};
  for (int c = 0; c < 256; ++c) classes[c] = kByteClass[c] == kCopy ? kPlain : kOther;
  classes['.'] = kDot;
  classes['/'] = kSlash;
  if (host) {
    classes[':'] = kOther;
    classes['?'] = kQuestion;
  } else {
    classes['#'] = kHash;
  }
  return classes;
}
constexpr std::array<uint8_t, 256> kHostScan = MakeScanClasses(true);
constexpr std::array<uint8_t, 256> kRestScan = MakeScanClasses(false);

// The first byte from `p` on that is not plain, two bytes a step. A plain
// byte is never the stop byte, so the one after it can be read.
const unsigned char* SkipPlain(const std::array<uint8_t, 256>& classes, const unsigned char* p) {
  while (classes[p[0]] == kPlain && classes[p[1]] == kPlain) p += 2;
  return classes[p[0]] == kPlain ? p + 1 : p;
}

// Eight bytes a step for the bytes most URLs are made of ('a'-'z', '0'-'9',
// '-' and the separators), without a branch for each byte: a branch that
// ends every label would be mispredicted at every label.
constexpr uint64_t kHighBits = 0x8080808080808080ull;
constexpr uint64_t kOnes = 0x0101010101010101ull;

// The high bit of each byte of `w` that lies in [lo, hi] (both below 0x80).
uint64_t BytesIn(uint64_t w, uint8_t lo, uint8_t hi) {
  const uint64_t low7 = w & ~kHighBits;
  const uint64_t atLeastLo = low7 + (0x80 - lo) * kOnes;
  const uint64_t aboveHi = low7 + (0x7F - hi) * kOnes;
  return atLeastLo & ~aboveHi & ~w & kHighBits;
}

// Skips such bytes, noting the separators among them ('.' in the host,
// '.' and '/' in the rest), up to the first other byte, which it returns.
// Reads up to seven bytes past that one.
template <bool kRest>
const unsigned char* SkipCommon(const unsigned char* p, const unsigned char* begin, uint32_t*& out) {
  for (;; p += 8) {
    const uint64_t w = LoadLittle64(p);
    const uint64_t digitsDashDotSlash = BytesIn(w, '-', '9');
    const uint64_t slashes = BytesIn(w, '/', '/');
    const uint64_t separators = BytesIn(w, '.', '.') | (kRest ? slashes : 0);
    const uint64_t common = BytesIn(w, 'a', 'z') | (kRest ? digitsDashDotSlash : digitsDashDotSlash & ~slashes);
    const uint64_t others = ~common & kHighBits;
    const uint64_t before = others != 0 ? (others & (0 - others)) - 1 : ~uint64_t{0};
    for (uint64_t bits = separators & before; bits != 0; bits &= bits - 1) {
      *out++ = static_cast<uint32_t>(p - begin) + static_cast<uint32_t>(std::countr_zero(bits)) / 8;
    }
    if (others != 0) return p + std::countr_zero(others) / 8;
  }
}

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

// Length of "scheme:", or 0 when the text has none.
size_t SchemeLength(std::string_view text) {
  // The schemes of nearly every request, known without a scan.
  if (text.starts_with("https:")) return 6;
  if (text.starts_with("http:")) return 5;
  if (text.empty() || (UrlCharOf(text[0]) & kLetter) == 0) return 0;
  size_t i = 1;
  while (i < text.size() && (UrlCharOf(text[i]) & kSchemeChar) != 0) ++i;
  return i < text.size() && text[i] == ':' ? i + 1 : 0;
}

// Length of "scheme:" plus its slashes, or 0 when the text has none.
size_t SchemePrefixLength(std::string_view text) {
  size_t i = SchemeLength(text);
  if (i == 0) return 0;
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
  char* const text = m_buffer.data() + LiteralHash::kPadding;
  char* out = text + at;
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
    if (cls == kSeparator) m_separators[m_separatorCount++] = static_cast<uint32_t>(out - text);
    if (cls == kEscape) {
      const char escape[kMaxGrowth] = {'%', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      for (char e : escape) *out++ = e;
    } else {
      *out++ = static_cast<char>(cls == kLower ? c - 'A' + 'a' : c);
    }
  }
  return static_cast<size_t>(out - text);
}

void CanonicalText::ReserveSeparators(size_t rawLength) {
  if (m_separators.size() < rawLength) m_separators.resize(rawLength);
  m_separatorCount = 0;
}

std::string_view CanonicalText::CopyRaw(const char* text, uint32_t length) {
  m_built = false;
  // The stop byte, and the bytes that the in-place scan and the literals
  // of the text read past it.
  const size_t size = LiteralHash::kPadding + size_t{length} + 1 + 7;
  if (m_raw.size() < size) m_raw.resize(size);
  char* const copy = m_raw.data() + LiteralHash::kPadding;
  if (length > 0) std::memcpy(copy, text, length);
  copy[length] = '\0';
  m_rawLength = length;
  return std::string_view(copy, length);
}

// Most URLs are already canonical from the host on: lowercase, nothing to
// decode or escape, no port, user information or "//" after the host. One
// pass finds the parts and the separators; anything else leaves the text
// to the general path, which starts over. The stop byte after the text is
// no plain byte, so the inner loops need no bounds check.
bool CanonicalText::ScanInPlace(std::string_view raw) {
  const auto* const text = reinterpret_cast<const unsigned char*>(raw.data());
  const unsigned char* const end = text + raw.size();
  const unsigned char* const hostBegin = text + SchemePrefixLength(raw);
  // A host that is no more than "www." ends in a dot and is refused below.
  const unsigned char* const begin =
      end - hostBegin >= 4 && std::memcmp(hostBegin, "www.", 4) == 0 ? hostBegin + 4 : hostBegin;
  uint32_t* const separators = m_separators.data();
  uint32_t* out = separators;
  const unsigned char* p = begin;
  for (;; ++p) {
    p = SkipPlain(kHostScan, SkipCommon<false>(p, begin, out));
    if (*p != '.') break;
    *out++ = static_cast<uint32_t>(p - begin);
  }
  const unsigned char* const hostEnd = p;
  if (p != end && *p != '/' && *p != '?') return false;
  if (hostEnd > hostBegin && hostEnd[-1] == '.') return false;
  // Past a '/' there is at least the stop byte.
  if (*p == '/' && p[1] == '/') return false;
  m_hostSeparators = static_cast<size_t>(out - separators);
  for (;; ++p) {
    p = SkipPlain(kRestScan, SkipCommon<true>(p, begin, out));
    if (*p != '.' && *p != '/') break;
    *out++ = static_cast<uint32_t>(p - begin);
  }
  if (p != end && *p != '#') return false;
  if (p > hostEnd && p[-1] == '/') {
    --p;
    --out;
  }
  m_base = raw.data();
  m_begin = static_cast<size_t>(begin - text);
  m_hostEnd = static_cast<size_t>(hostEnd - text);
  m_end = static_cast<size_t>(p - text);
  m_separatorCount = static_cast<size_t>(out - separators);
  m_hostHasSlash = false;
  return true;
}

void CanonicalText::Build(const char* text, uint32_t length) {
  const std::string_view raw = CopyRaw(text, length);
  ReserveSeparators(raw.size());
  if (!ScanInPlace(raw)) CopyIntoBuffer(raw);
  m_built = true;
}

void CanonicalText::BuildInBuffer(const char* text, uint32_t length) {
  const std::string_view raw = CopyRaw(text, length);
  ReserveSeparators(raw.size());
  CopyIntoBuffer(raw);
  m_built = true;
}

void CanonicalText::CopyIntoBuffer(std::string_view raw) {
  const UrlParts parts = SplitUrl(raw);
  m_separatorCount = 0;
  // Literals of the text are read eight bytes at a time from their start.
  const size_t size = LiteralHash::kPadding + kMaxGrowth * raw.size() + 8;
  if (m_buffer.size() < size) m_buffer.resize(size);
  m_base = m_buffer.data() + LiteralHash::kPadding;
  std::string_view host = raw.substr(parts.hostBegin, parts.hostEnd - parts.hostBegin);
  while (!host.empty() && host.back() == '.') host.remove_suffix(1);
  m_hostEnd = Append(0, host);
  m_hostSeparators = m_separatorCount;
  std::string_view rest = raw.substr(parts.restBegin);
  while (rest.size() >= 2 && rest[0] == '/' && rest[1] == '/') rest.remove_prefix(1);
  rest = rest.substr(0, rest.find('#'));
  m_end = Append(m_hostEnd, rest);
  Finish();
  m_hostHasSlash = Host().find('/') != std::string_view::npos;
}

// One leading "www." and one trailing '/' go; separators count from the
// text's start.
void CanonicalText::Finish() {
  m_begin = m_hostEnd >= 4 && std::string_view(m_base, 4) == "www." ? 4 : 0;
  if (m_end > m_hostEnd && m_base[m_end - 1] == '/') {
    --m_end;
    --m_separatorCount;
  }
  size_t kept = 0;
  for (size_t i = 0; i < m_separatorCount; ++i) {
    if (m_separators[i] >= m_begin) m_separators[kept++] = static_cast<uint32_t>(m_separators[i] - m_begin);
  }
  m_hostSeparators -= m_separatorCount - kept;
  m_separatorCount = kept;
}

}  // namespace mask_engine
