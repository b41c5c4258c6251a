// UTF-8 / UTF-16 conversions shared by trace lines, exceptions and the bases.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orv::text {

/// Appends `wide` as UTF-8: a surrogate pair is one code point, every other
/// unit (an unpaired surrogate too) is encoded as its own value.
void AppendUtf8(std::string& out, std::u16string_view wide);
std::string ToUtf8(std::u16string_view wide);

/// Decodes UTF-8 the way the bases store names: continuation bytes give their
/// low 6 bits unchecked, overlong forms and surrogates pass as decoded; a
/// truncated sequence, a stray continuation or 0xF8+ lead byte, or a code
/// point of 0x110000 or more gives nullopt.
std::optional<std::u16string> FromUtf8(std::string_view utf8);

/// Widens 7-bit text (literals, numbers).
std::u16string Widen(std::string_view ascii);

}  // namespace orv::text
