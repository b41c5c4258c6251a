// The list of mask keys collected before compilation.
//
// Each key is stored once in the arena, and its head and tail variants are
// entries that share the stored bytes with their own head offset and length.
// Keys made only of literal bytes 3..255 are stored as plain bytes. Any other
// key also gets a wildcard bitmap (one bit per symbol, cleared for wildcards)
// so that bytes 1 and 2 can stand for the wildcards. The bitmap sits just
// before the symbol bytes, its byte k at symbols[-1 - k]: placed this way it
// is found without knowing the stored length, which a shortened variant does
// not carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mask_engine/key_arena.h"
#include "mask_engine/mask_symbols.h"

namespace mask_engine {

struct KeyEntry {
  static constexpr uint32_t kLengthMask = 0x0FFFFFFF;
  static constexpr uint32_t kMaxHead = 7;
  static constexpr uint32_t kBitmapBit = 0x80000000;

  const uint8_t* symbols;  // one byte per symbol, bitmap (if any) before
  uint32_t packed;         // length | head << 28 | bitmap bit
  uint64_t tag;            // mask index

  uint32_t Length() const { return packed & kLengthMask; }
  uint32_t Head() const { return (packed >> 28) & kMaxHead; }
  bool HasBitmap() const { return (packed & kBitmapBit) != 0; }
  uint32_t EffectiveLength() const { return Length() - Head(); }

  /// Key symbol (9-bit order) at effective position `pos`; kKeyEnd past the end.
  uint16_t SymbolAt(size_t pos) const {
    const size_t stored = pos + Head();
    if (stored >= Length()) return kKeyEnd;
    const uint8_t byte = symbols[stored];
    if (HasBitmap() && IsWildcard(stored)) return byte;
    return static_cast<uint16_t>(kKeyLiteral | byte);
  }

  bool IsWildcard(size_t stored) const {
    const uint8_t bits = *(symbols - 1 - static_cast<std::ptrdiff_t>(stored / 8));
    return ((bits >> (stored % 8)) & 1) == 0;
  }
};
static_assert(sizeof(KeyEntry) == 24);

class KeyList {
 public:
  KeyList();

  /// Stores a key (mask symbols) with its head offset and tail, and appends
  /// an entry for every variant. Throws std::out_of_range "mask head offset
  /// range error" for head > 7 and std::invalid_argument "empty mask" for a
  /// key (or variant) without symbols.
  void Add(std::span<const uint32_t> symbols, uint8_t head, uint8_t tail, uint64_t tag);

  /// Sorts by effective symbols and keeps one entry per distinct key: the
  /// one with the smallest tag.
  void SortAndDeduplicate();

  const std::vector<KeyEntry>& Entries() const { return m_entries; }

 private:
  const uint8_t* Store(std::span<const uint32_t> symbols, bool& hasBitmap);

  KeyArena m_arena;
  std::vector<KeyEntry> m_entries;
};

/// Lexicographic order of effective symbols, a prefix before its extensions.
int CompareKeys(const KeyEntry& a, const KeyEntry& b);

}  // namespace mask_engine
