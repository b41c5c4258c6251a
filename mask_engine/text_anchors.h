// Where a literal may sit in a text: at the start of the text, right after
// a '.' or right after a '/', and ending where a '/'-free segment ends (at a
// '/' or at the end of the text); or a label, between the text's ends, '.'
// and '/'. The index and the texts hash literals the same way, so that each
// anchor costs one probe.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace mask_engine {

/// Hash of a literal, built from its last byte to its first so that every
/// suffix of a segment costs one step: AppendFront(h, b) is the hash of b
/// followed by the literal of h.
struct LiteralHash {
  static constexpr uint64_t kFactor = 0x9E3779B97F4A7C15ull;
  static uint64_t AppendFront(uint64_t hash, uint8_t byte) { return hash * kFactor + byte + 1; }
  static uint64_t Of(const uint8_t* bytes, size_t length) {
    uint64_t hash = 0;
    while (length > 0) hash = AppendFront(hash, bytes[--length]);
    return hash;
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
  const uint64_t salt = kind == AnchorKind::kSegment ? 2 : kind == AnchorKind::kLabel ? 3 : 1;
  uint64_t m = (literalHash ^ (0xD6E8FEB86659FD93ull * salt)) * 0xFF51AFD7ED558CCDull;
  m ^= m >> 32;
  return m != 0 ? m : 1;
}

/// One place where a literal may sit: text[begin, end).
struct TextAnchor {
  uint64_t key;  // AnchorKey of text[begin, end)
  uint32_t begin;
  uint32_t end;
  AnchorKind kind;
};

/// Calls `visit(kind, begin, end)` for every segment anchor and label of a
/// text, given the positions of its '.' and '/' (ascending).
template <class Visit>
void ForEachEdge(size_t textLength, std::span<const size_t> separators, const char* text, Visit&& visit) {
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t labelBegin = 0;
  size_t segmentBegin = kNone;  // only after a '/'
  for (const size_t pos : separators) {
    visit(AnchorKind::kLabel, labelBegin, pos);
    labelBegin = pos + 1;
    if (text[pos] != '/') continue;
    if (segmentBegin != kNone) visit(AnchorKind::kSegment, segmentBegin, pos);
    segmentBegin = pos + 1;
  }
  visit(AnchorKind::kLabel, labelBegin, textLength);
  if (segmentBegin != kNone) visit(AnchorKind::kSegment, segmentBegin, textLength);
}

/// Anchors of one text, in storage that keeps its size from text to text,
/// so that collecting does not allocate once warm. Anchors come from the
/// end of the text to its start.
class AnchorList {
 public:
  /// The start anchor and the dot anchors of `text`, given the positions
  /// of its '.' and '/' (ascending): what the index looks up.
  void CollectLiterals(std::string_view text, std::span<const size_t> separators);

  std::span<const TextAnchor> Anchors() const { return {m_anchors.data(), m_size}; }
  /// The anchors of the text's first segment (they come last).
  std::span<const TextAnchor> FirstSegment() const { return Anchors().subspan(m_firstSegment); }

 private:
  TextAnchor* Reserve(size_t count);

  std::vector<TextAnchor> m_anchors;
  size_t m_size = 0;
  size_t m_firstSegment = 0;
};

/// A 16-bit hash of three bytes.
inline uint16_t TrigramHash(uint8_t a, uint8_t b, uint8_t c) {
  const uint32_t t = a | (uint32_t{b} << 8) | (uint32_t{c} << 16);
  return static_cast<uint16_t>((t * 0x9E3779B1u) >> 16);
}

/// Replaces `out` with the hashes of every three-byte window of `text`.
void CollectTrigrams(std::string_view text, std::vector<uint16_t>& out);

}  // namespace mask_engine
