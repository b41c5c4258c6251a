// How the literal index stores a key that is not simple (see key_shape.h):
// right after its literal, the number of pieces of its head and of its
// tail, the length of each of these pieces, then their bytes in the same
// order. A '?' in a piece is marked in the bitmap before the literal, like
// those of simple keys.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mask_engine {

/// The pieces of a head or a tail, between its any-runs.
struct Pieces {
  // At most IndexShape::kMaxRuns + 1.
  static constexpr uint32_t kMaxCount = 16;

  uint32_t count = 0;
  const uint8_t* lengths = nullptr;
  uint32_t offset = 0;  // of the first piece's bytes, counted from the literal's first byte

  uint32_t Length(uint32_t i) const { return lengths[i]; }
  uint32_t Last() const { return lengths[count - 1]; }
  /// Where each piece's bytes are, from the literal's first byte.
  void Offsets(uint32_t (&out)[kMaxCount]) const;
};

struct PiecedKey {
  Pieces head;
  Pieces tail;
};

/// The pieces of the key whose literal (`literalLength` bytes) is at `literal`.
PiecedKey ReadPiecedKey(const uint8_t* literal, uint32_t literalLength);

/// Appends the description and the bytes of the pieces of `head` and
/// `tail` (mask symbols, see mask_symbols.h, with at most Pieces::kMaxCount
/// pieces each of at most 255 symbols) to `bytes`, and for each byte
/// whether it stands for a '?' to `anyChars`.
void WritePieces(std::span<const uint32_t> head, std::span<const uint32_t> tail, std::vector<uint8_t>& bytes,
                 std::vector<uint8_t>& anyChars);

}  // namespace mask_engine
