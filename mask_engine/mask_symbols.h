// Mask text -> symbols, and the symbol encodings used while building keys.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mask_engine {

// Symbols of a mask being processed: a literal byte keeps its value.
inline constexpr uint32_t kAnyRunSymbol = 0x100000;
inline constexpr uint32_t kAnyCharSymbol = 0x100001;

// Symbols inside compiled keys, as 9-bit values: wildcards sort before every
// literal and literals sort by byte value.
inline constexpr uint16_t kKeyEnd = 0;
inline constexpr uint16_t kKeyAnyRun = 1;
inline constexpr uint16_t kKeyAnyChar = 2;
inline constexpr uint16_t kKeyLiteral = 0x100;

inline constexpr bool IsKeyLiteral(uint16_t symbol) { return symbol >= kKeyLiteral; }

inline uint16_t ToKeySymbol(uint32_t symbol) {
  if (symbol == kAnyRunSymbol) return kKeyAnyRun;
  if (symbol == kAnyCharSymbol) return kKeyAnyChar;
  return static_cast<uint16_t>(kKeyLiteral | (symbol & 0xFF));
}

/// Replaces `out` with the symbols of a mask text. '*?' is stored as '?*' and
/// '**' as '*', so equivalent masks give equal keys.
void ParseMaskSymbols(const char* text, uint32_t length, std::vector<uint32_t>& out);

/// True for plain host masks, which match wherever the URL's host ends: no
/// '?' and no '/', at least two dots and at most two '*'.
bool ComputeDomainFlag(std::span<const uint32_t> symbols);

}  // namespace mask_engine
