#include "orv/text/utf.h"

#include <algorithm>
#include <cstdint>

namespace orv::text {

void AppendUtf8(std::string& out, std::u16string_view wide) {
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t cp = wide[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
}

std::string ToUtf8(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  AppendUtf8(out, wide);
  return out;
}

namespace {

// Decodes one code point starting at `i`; false on a malformed sequence.
bool DecodeOne(std::string_view s, size_t& i, uint32_t& cp) {
  const auto lead = static_cast<uint8_t>(s[i]);
  size_t extra;
  if (lead < 0x80) {
    cp = lead;
    extra = 0;
  } else if ((lead & 0xE0) == 0xC0) {
    cp = lead & 0x1F;
    extra = 1;
  } else if ((lead & 0xF0) == 0xE0) {
    cp = lead & 0x0F;
    extra = 2;
  } else if ((lead & 0xF8) == 0xF0) {
    cp = lead & 0x07;
    extra = 3;
  } else {
    return false;
  }
  if (extra > s.size() - i - 1) return false;
  for (size_t k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
  if (cp >= 0x110000) return false;
  i += extra + 1;
  return true;
}

}  // namespace

std::optional<std::u16string> FromUtf8(std::string_view utf8) {
  // Most texts (service names, hosts, paths) are ASCII: widened in one pass.
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return std::u16string(utf8.begin(), utf8.end());
  }
  // Two passes: size, then convert into a string of exactly that size.
  size_t units = 0;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp;
    if (!DecodeOne(utf8, i, cp)) return std::nullopt;
    units += cp < 0x10000 ? 1 : 2;
  }
  std::u16string out;
  out.reserve(units);
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp;
    DecodeOne(utf8, i, cp);
    if (cp < 0x10000) {
      out += static_cast<char16_t>(cp);
    } else {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
  }
  return out;
}

std::u16string Widen(std::string_view ascii) {
  std::u16string out;
  out.reserve(ascii.size());
  for (char c : ascii) out += static_cast<char16_t>(static_cast<unsigned char>(c));
  return out;
}

}  // namespace orv::text
