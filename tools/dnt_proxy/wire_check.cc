#include "tools/dnt_proxy/wire_check.h"

#include <algorithm>
#include <cstdio>

namespace dnt_proxy {
namespace {

bool IsTokenChar(unsigned char c) {
  if (c <= ' ' || c >= 0x7f) return false;
  return std::string_view("\"(),/:;<=>?@[\\]{}").find(static_cast<char>(c)) == std::string_view::npos;
}

bool IsTextChar(unsigned char c) { return c == '\t' || (c >= ' ' && c != 0x7f); }

// The length of the UTF-8 sequence at the start of `text`, 0 when it is
// not one (overlong forms, surrogates and code points beyond U+10FFFF
// included).
std::size_t Utf8Length(std::string_view text, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xc2 && lead <= 0xdf ? 2 : lead >= 0xe0 && lead <= 0xef ? 3
                                                                         : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                                                                        : 0;
  if (length == 0 || text.size() < length) return 0;
  code = length == 1 ? lead : lead & (0x7f >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3f);
  }
  const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < least[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return length;
}

bool Unprintable(char32_t code) {
  return code < 0x20 || (code >= 0x7f && code <= 0x9f) || code == 0x2028 || code == 0x2029;
}

void AppendEscape(std::string& out, unsigned char byte) {
  switch (byte) {
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      char text[5];
      std::snprintf(text, sizeof text, "\\x%02X", byte);
      out += text;
  }
}

}  // namespace

bool IsFieldName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return IsTokenChar(static_cast<unsigned char>(c)); });
}

bool IsFieldValue(std::string_view value) {
  return std::all_of(value.begin(), value.end(), [](char c) { return IsTextChar(static_cast<unsigned char>(c)); });
}

bool IsReasonPhrase(std::string_view reason) { return IsFieldValue(reason); }

bool IsOriginTarget(std::string_view target) {
  return !target.empty() && target.front() == '/' && std::all_of(target.begin(), target.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > ' ' && byte != 0x7f && c != '#';
  });
}

std::string LogText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    // Printable ASCII, nearly all of a line, goes as it is, a run at a time.
    std::size_t plain = 0;
    while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7f && text[plain] != '\\') ++plain;
    out.append(text.substr(0, plain));
    text.remove_prefix(plain);
    if (text.empty()) break;
    char32_t code = 0;
    const std::size_t length = Utf8Length(text, code);
    if (length == 0 || Unprintable(code)) {
      // A C1 control or separator written as UTF-8 is escaped byte by byte.
      for (std::size_t i = 0; i < std::max<std::size_t>(length, 1); ++i) AppendEscape(out, static_cast<unsigned char>(text[i]));
    } else if (code == '\\') {
      out += "\\\\";
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(std::max<std::size_t>(length, 1));
  }
  return out;
}

}  // namespace dnt_proxy
