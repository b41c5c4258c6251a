#include "mask_engine/key_list.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "mask_engine/mask_keys.h"

namespace mask_engine {

namespace {

bool NeedsBitmap(uint32_t symbol) { return symbol >= kAnyRunSymbol || (symbol & 0xFF) < 3; }

}  // namespace

KeyList::KeyList() { m_entries.reserve(256); }

const uint8_t* KeyList::Store(std::span<const uint32_t> symbols, bool& hasBitmap) {
  hasBitmap = std::any_of(symbols.begin(), symbols.end(), NeedsBitmap);
  const size_t bitmapBytes = hasBitmap ? (symbols.size() + 7) / 8 : 0;
  uint8_t* bytes = m_arena.Allocate(bitmapBytes + symbols.size()) + bitmapBytes;
  std::memset(bytes - bitmapBytes, 0xFF, bitmapBytes);
  for (size_t i = 0; i < symbols.size(); ++i) {
    const uint32_t s = symbols[i];
    if (s == kAnyRunSymbol || s == kAnyCharSymbol) {
      bytes[i] = static_cast<uint8_t>(ToKeySymbol(s));
      uint8_t& bits = *(bytes - 1 - static_cast<std::ptrdiff_t>(i / 8));
      bits = static_cast<uint8_t>(bits & ~(1u << (i % 8)));
    } else {
      bytes[i] = static_cast<uint8_t>(s);
    }
  }
  return bytes;
}

void KeyList::Add(std::span<const uint32_t> symbols, uint8_t head, uint8_t tail, uint64_t tag) {
  if (head > KeyEntry::kMaxHead) throw std::out_of_range("mask head offset range error");
  if (symbols.empty() || size_t{head} + tail >= symbols.size()) throw std::invalid_argument("empty mask");
  if (symbols.size() > KeyEntry::kLengthMask) throw std::length_error("mask key too long");

  bool hasBitmap = false;
  const uint8_t* stored = Store(symbols, hasBitmap);
  const KeyVariants variants = VariantsOf(symbols.size(), head, tail);
  for (int i = 0; i < variants.count; ++i) {
    const KeyVariant& v = variants.ranges[i];
    uint32_t packed = static_cast<uint32_t>(v.end) | static_cast<uint32_t>(v.begin) << 28;
    if (hasBitmap) packed |= KeyEntry::kBitmapBit;
    m_entries.push_back(KeyEntry{stored, packed, tag});
  }
}

int CompareKeys(const KeyEntry& a, const KeyEntry& b) {
  const uint32_t la = a.EffectiveLength();
  const uint32_t lb = b.EffectiveLength();
  const uint32_t common = std::min(la, lb);
  if (!a.HasBitmap() && !b.HasBitmap()) {
    // Plain literal keys order like their bytes.
    const int c = std::memcmp(a.symbols + a.Head(), b.symbols + b.Head(), common);
    if (c != 0) return c;
  } else {
    for (uint32_t i = 0; i < common; ++i) {
      const uint16_t sa = a.SymbolAt(i);
      const uint16_t sb = b.SymbolAt(i);
      if (sa != sb) return sa < sb ? -1 : 1;
    }
  }
  return la == lb ? 0 : (la < lb ? -1 : 1);
}

namespace {

constexpr int kPrefixSymbols = 7;  // 9 bits each in a 64-bit word

// The key's first 14 symbols packed so that words order like the keys; most
// comparisons end there.
struct SortItem {
  uint64_t high;
  uint64_t low;
  uint32_t entry;
};

uint64_t PackSymbols(const KeyEntry& key, size_t from) {
  uint64_t packed = 0;
  for (int i = 0; i < kPrefixSymbols; ++i) packed = packed << 9 | key.SymbolAt(from + i);
  return packed;
}

}  // namespace

// Equal keys sort by tag, so the first-added mask is the one that stays.
void KeyList::SortAndDeduplicate() {
  std::vector<SortItem> items(m_entries.size());
  for (uint32_t i = 0; i < m_entries.size(); ++i) {
    items[i] = SortItem{PackSymbols(m_entries[i], 0), PackSymbols(m_entries[i], kPrefixSymbols), i};
  }
  std::sort(items.begin(), items.end(), [&](const SortItem& a, const SortItem& b) {
    if (a.high != b.high) return a.high < b.high;
    if (a.low != b.low) return a.low < b.low;
    const KeyEntry& x = m_entries[a.entry];
    const KeyEntry& y = m_entries[b.entry];
    const int c = CompareKeys(x, y);
    return c != 0 ? c < 0 : x.tag < y.tag;
  });
  std::vector<KeyEntry> sorted;
  sorted.reserve(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    const KeyEntry& entry = m_entries[items[i].entry];
    const bool samePrefix = i > 0 && items[i].high == items[i - 1].high && items[i].low == items[i - 1].low;
    if (!samePrefix || CompareKeys(sorted.back(), entry) != 0) sorted.push_back(entry);
  }
  m_entries.swap(sorted);
}

}  // namespace mask_engine
