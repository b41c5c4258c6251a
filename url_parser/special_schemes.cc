#include "url_parser/special_schemes.h"

#include <cstddef>

namespace orv::network {
namespace {

// All three names live in one literal; each scheme is a slice of it.
constexpr std::string_view kSpecialSchemes = "blobfilemailto";
constexpr std::string_view kBlob = kSpecialSchemes.substr(0, 4);
constexpr std::string_view kFile = kSpecialSchemes.substr(4, 4);
constexpr std::string_view kMailto = kSpecialSchemes.substr(8, 6);

constexpr char ToAsciiLower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToAsciiLower(a[i]) != ToAsciiLower(b[i])) return false;
  }
  return true;
}

std::string AsciiLowercase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = ToAsciiLower(c);
  return lower;
}

bool StartsWithUrlPrefix(std::string_view text) noexcept {
  return text.size() >= 4 && EqualsIgnoringAsciiCase(text.substr(0, 4), "url:");
}

bool IsBlobScheme(std::string_view scheme) noexcept {
  return EqualsIgnoringAsciiCase(scheme, kBlob);
}

bool IsFileScheme(std::string_view scheme) noexcept {
  return EqualsIgnoringAsciiCase(scheme, kFile);
}

bool IsMailtoScheme(std::string_view scheme) noexcept {
  return EqualsIgnoringAsciiCase(scheme, kMailto);
}

}  // namespace orv::network
