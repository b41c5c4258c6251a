// Where a literal may sit in a text: at the start of the text, right after
// a '.' or right after a '/', and ending where a '/'-free segment ends (at a
// '/' or at the end of the text); or a label, between the text's ends, '.'
// and '/'. The index and the texts hash literals the same way, so that each
// anchor costs one probe.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace mask_engine {

/// The eight bytes at `bytes` as a little-endian number (byte i in bits
/// 8i to 8i + 7), whatever the machine's byte order.
inline uint64_t LoadLittle64(const uint8_t* bytes) {
  uint64_t value = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&value, bytes, 8);
  } else {
    for (int i = 7; i >= 0; --i) value = value << 8 | bytes[i];
  }
  return value;
}

/// Hash of a literal from its first and last eight bytes and its length, so
/// that an anchor costs one step however long its literal. Literals that
/// share both ends and the length collide: that costs a comparison (the
/// index checks the bytes) or an automaton pass (a filter only says "may"),
/// never a wrong answer.
struct LiteralHash {
  /// Readable bytes that texts keep before their first byte, so that a
  /// short literal is read in one load that ends where it ends.
  static constexpr size_t kPadding = 8;

  /// The literal may be anywhere.
  static uint64_t Of(const uint8_t* bytes, size_t length) {
    if (length >= 8) return Mix(LoadLittle64(bytes), LoadLittle64(bytes + length - 8), length);
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) value |= uint64_t{bytes[i]} << (8 * i);
    return Mix(value, value, length);
  }

  /// The same for a literal with kPadding readable bytes before it and
  /// eight from its start on, without a branch on its length: lengths
  /// below and above eight alternate in a text.
  static uint64_t OfPadded(const uint8_t* bytes, size_t length) {
    const uint64_t first = LoadLittle64(bytes) & kLowBytes[std::min<size_t>(length, 8)];
    const uint64_t last = LoadLittle64(bytes + length - 8);
    return Mix(first, length >= 8 ? last : first, length);
  }

 private:
  // The lowest n bytes, by n.
  static constexpr uint64_t kLowBytes[9] = {0,
                                            0xFF,
                                            0xFFFF,
                                            0xFF'FFFF,
                                            0xFFFF'FFFF,
                                            0xFF'FFFF'FFFF,
                                            0xFFFF'FFFF'FFFF,
                                            0xFF'FFFF'FFFF'FFFF,
                                            0xFFFF'FFFF'FFFF'FFFF};

  // AnchorKey mixes the result once more.
  static uint64_t Mix(uint64_t first, uint64_t last, size_t length) {
    return (first * 0x9E3779B97F4A7C15ull) ^ last ^ length;
  }
};

/// What comes just before an anchor's literal.
enum class AnchorKind : uint8_t {
  kStart,    ///< the start of the text
  kDot,      ///< a '.'
  kSegment,  ///< a '/'
  kLabel,    ///< the start of the text, '.' or '/'; the literal ends at '.', '/' or the end
};

/// What the index and the automaton's filter look a literal up by: its hash
/// and the anchor's kind. Start and dot anchors share keys, so that the
/// index holds '*.name.tld' and 'name.tld' once. Never 0.
inline uint64_t AnchorKey(uint64_t literalHash, AnchorKind kind) {
  constexpr uint64_t kSalt = 0xD6E8FEB86659FD93ull;
  constexpr uint64_t kSalts[] = {kSalt, kSalt, 2 * kSalt, 3 * kSalt};  // by kind
  uint64_t m = (literalHash ^ kSalts[static_cast<uint8_t>(kind)]) * 0xFF51AFD7ED558CCDull;
  m ^= m >> 32;
  return m != 0 ? m : 1;
}

/// The two bits that an anchor key sets in one word of an index's filter;
/// which word depends on the filter's size.
inline uint64_t AnchorFilterBits(uint64_t key) {
  return (uint64_t{1} << ((key >> 16) & 63)) | (uint64_t{1} << ((key >> 22) & 63));
}

/// One place where a literal may sit: text[begin, end).
struct TextAnchor {
  uint64_t key;         // AnchorKey of text[begin, end)
  uint64_t filterBits;  // AnchorFilterBits(key), worked out once for every index probed
  uint32_t begin;
  uint32_t end;
  AnchorKind kind;
};

/// Anchors of one text, in storage that keeps its size from text to text,
/// so that collecting does not allocate once warm. Anchors come from the
/// end of the text to its start.
class AnchorList {
 public:
  /// The start anchor and the dot anchors of `text`, given the positions
  /// of its '.' and '/' (ascending): what the index looks up. The text has
  /// LiteralHash::kPadding readable bytes before it and eight after it.
  void CollectLiterals(std::string_view text, std::span<const uint32_t> separators);

  std::span<const TextAnchor> Anchors() const { return {m_anchors.data(), m_size}; }
  /// The anchors of the text's first segment (they come last).
  std::span<const TextAnchor> FirstSegment() const { return Anchors().subspan(m_firstSegment); }

 private:
  TextAnchor* Reserve(size_t count);

  std::vector<TextAnchor> m_anchors;
  size_t m_size = 0;
  size_t m_firstSegment = 0;
};

/// A 16-bit hash of three bytes, given as a | b << 8 | c << 16.
inline uint16_t TrigramHash(uint32_t abc) { return static_cast<uint16_t>((abc * 0x9E3779B1u) >> 16); }

/// The same of three bytes given one by one.
inline uint16_t TrigramHash(uint8_t a, uint8_t b, uint8_t c) {
  return TrigramHash(a | (uint32_t{b} << 8) | (uint32_t{c} << 16));
}

}  // namespace mask_engine
