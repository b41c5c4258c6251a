// How the literal index stores a key that is not simple (see key_shape.h):
// right after its literal, the number of pieces of its head and of its
// tail, then for each of these pieces where its bytes are (two bytes, from
// the literal's first byte) and its length (one byte), then the pieces'
// bytes in the same order. A '?' in a piece is marked in the bitmap before
// the literal, like those of simple keys.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mask_engine {

/// The pieces of a head or a tail, between its any-runs.
struct Pieces {
  static constexpr uint32_t kEntryBytes = 3;

  uint32_t count = 0;
  const uint8_t* entries = nullptr;

  /// Where piece i's bytes are, from the literal's first byte.
  uint32_t Offset(uint32_t i) const { return entries[kEntryBytes * i] | uint32_t{entries[kEntryBytes * i + 1]} << 8; }
  uint32_t Length(uint32_t i) const { return entries[kEntryBytes * i + 2]; }
  uint32_t Last() const { return Length(count - 1); }
};

struct PiecedKey {
  Pieces head;
  Pieces tail;
};

/// The pieces of the key whose literal (`literalLength` bytes) is at `literal`.
inline PiecedKey ReadPiecedKey(const uint8_t* literal, uint32_t literalLength) {
  const uint8_t* const counts = literal + literalLength;
  const Pieces head{counts[0], counts + 2};
  return PiecedKey{head, Pieces{counts[1], head.entries + Pieces::kEntryBytes * head.count}};
}

/// Writes one piece's entry at `at`, as ReadPiecedKey reads it.
inline void WritePieceEntry(uint8_t* at, uint32_t offset, uint8_t length) {
  at[0] = static_cast<uint8_t>(offset);
  at[1] = static_cast<uint8_t>(offset >> 8);
  at[2] = length;
}

/// Appends the description and the bytes of the pieces of `head` and
/// `tail` (mask symbols, see mask_symbols.h, with at most 255 pieces each
/// of at most 255 symbols) to `bytes`, which holds the literal, and for
/// each byte appended whether it stands for a '?' to `anyChars`.
void WritePieces(std::span<const uint32_t> head, std::span<const uint32_t> tail, std::vector<uint8_t>& bytes,
                 std::vector<uint8_t>& anyChars);

}  // namespace mask_engine
