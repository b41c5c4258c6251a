#include "mask_engine/mask_symbols.h"

namespace mask_engine {

namespace {

void AppendSymbol(std::vector<uint32_t>& out, uint32_t symbol) {
  if (!out.empty() && out.back() == kAnyRunSymbol) {
    if (symbol == kAnyRunSymbol) return;
    if (symbol == kAnyCharSymbol) {
      out.back() = kAnyCharSymbol;
      out.push_back(kAnyRunSymbol);
      return;
    }
  }
  out.push_back(symbol);
}

}  // namespace

void ParseMaskSymbols(const char* text, uint32_t length, std::vector<uint32_t>& out) {
  out.clear();
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (uint32_t i = 0; i < length; ++i) {
    const unsigned char c = bytes[i];
    if (c == '\\' && i + 1 < length) {
      AppendSymbol(out, bytes[++i]);
    } else if (c == '*') {
      AppendSymbol(out, kAnyRunSymbol);
    } else if (c == '?') {
      AppendSymbol(out, kAnyCharSymbol);
    } else {
      AppendSymbol(out, c);
    }
  }
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
