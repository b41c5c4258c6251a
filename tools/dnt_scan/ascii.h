// Lower-casing schemes, hosts and versions, which HTTP compares without
// case (names are compared with orv::network::EqualsIgnoringAsciiCase).
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace dnt_scan {

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), LowerAscii);
  return lower;
}

}  // namespace dnt_scan
