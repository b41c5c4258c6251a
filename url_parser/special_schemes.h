#pragma once

#include <string>
#include <string_view>

namespace orv::network {

// Schemes whose text after ':' follows its own rules. Compared without
// regard to ASCII case.
bool IsBlobScheme(std::string_view scheme) noexcept;
bool IsFileScheme(std::string_view scheme) noexcept;
bool IsMailtoScheme(std::string_view scheme) noexcept;

// Some hosts hand over request targets as "URL:<url>"; the parser drops the
// prefix (in any case), so it cannot round-trip.
bool StartsWithUrlPrefix(std::string_view text) noexcept;

// ASCII-only case-insensitive equality; bytes >= 0x80 compare exactly.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept;

// `text` with its ASCII letters lower-cased; bytes >= 0x80 stay as they are.
std::string AsciiLowercase(std::string_view text);

}  // namespace orv::network
