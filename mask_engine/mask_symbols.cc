#include "mask_engine/mask_symbols.h"

namespace mask_engine {

// Sized for every byte first, so that appending checks no capacity.
void ParseMaskSymbols(const char* text, uint32_t length, std::vector<uint32_t>& out) {
  out.resize(length);
  uint32_t* const begin = out.data();
  uint32_t* end = begin;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (uint32_t i = 0; i < length; ++i) {
    const unsigned char c = bytes[i];
    uint32_t symbol = c;
    if (c == '\\' && i + 1 < length) {
      symbol = bytes[++i];
    } else if (c == '*') {
      symbol = kAnyRunSymbol;
    } else if (c == '?') {
      symbol = kAnyCharSymbol;
    }
    if (end != begin && end[-1] == kAnyRunSymbol && symbol >= kAnyRunSymbol) {
      if (symbol == kAnyRunSymbol) continue;
      end[-1] = kAnyCharSymbol;
      symbol = kAnyRunSymbol;
    }
    *end++ = symbol;
  }
  out.resize(static_cast<size_t>(end - begin));
}

bool ComputeDomainFlag(std::span<const uint32_t> symbols) {
  unsigned dots = 0;
  unsigned anyRuns = 0;
  for (uint32_t s : symbols) {
    if (s == kAnyCharSymbol || s == '/') return false;
    if (s == '.') ++dots;
    if (s == kAnyRunSymbol) ++anyRuns;
  }
  return dots >= 2 && anyRuns <= 2;
}

}  // namespace mask_engine
