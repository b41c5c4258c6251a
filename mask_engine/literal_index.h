// The literal index: keys that one literal anchors (see key_shape.h), found
// by hashing the anchors of the text, then checked by plain comparisons.
//
// Keys live in a hash table of buckets laid out back to back (bucket b holds
// keys [bucketStart[b], bucketStart[b + 1])). A key's bytes are its symbols
// from the literal on, any-runs left out: the literal, then the tail's
// pieces. Variants of one stored key share these bytes. When they hold a
// '?', a bitmap of the '?' positions (bit i of byte i / 8, counted back from
// the first byte) sits just before them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "mask_engine/key_list.h"
#include "mask_engine/key_shape.h"
#include "mask_engine/prepared_text.h"
#include "mask_engine/text_anchors.h"

namespace mask_engine {

struct IndexedKey {
  static constexpr uint8_t kAtDot = 0x01;        // the literal follows '*.': it sits after a '.'
  static constexpr uint8_t kWhole = 0x02;        // matched against host and rest, not the host alone
  static constexpr uint8_t kEndsText = 0x04;     // nothing after the literal
  static constexpr uint8_t kAnyChar = 0x08;      // the bytes have a '?' bitmap
  static constexpr uint8_t kRequirement = 0x10;  // not a key: a literal the automaton needs
  // A '*.name.tld' key and its 'name.tld' variant of the same mask are one
  // record that takes both anchors.
  static constexpr uint8_t kAtStart = 0x20;      // the literal starts the text

  uint32_t tag;
  uint32_t bytes;           // offset in the byte pool
  uint8_t literalLength;    // a requirement's: at most 255
  uint8_t segments[3];      // tail pieces between any-runs
  uint16_t check;           // more bits of the bucket hash
  uint8_t runs;             // any-runs in the tail
  uint8_t flags;
};
static_assert(sizeof(IndexedKey) == 16);

/// A literal at a start or dot anchor that some key of the automaton needs
/// (see automaton_prefilter.h); the index tells when a text has one.
struct LiteralRequirement {
  uint64_t key;  // AnchorKey
  uint32_t length;
  AnchorKind kind;
};

/// One anchor's verified match: the record, whether the anchor was the
/// start of the text (the 'name.tld' variant of a '*.name.tld' record: its
/// routes count apart), and the number of routes. A tail with two any-runs
/// leaves the routes to SpreadRoutes, which counts the middle piece's places
/// once for all anchors of the key.
struct KeyHit {
  static constexpr int32_t kSpread = -1;
  uint32_t key;
  bool atStart;
  int32_t routes;       // or kSpread
  uint32_t spreadFrom;  // with kSpread: where the middle piece may start

  bool SameKey(const KeyHit& other) const { return key == other.key && atStart == other.atStart; }
};

/// Orders hits by key, anchor kind and spreadFrom.
void SortHits(std::vector<KeyHit>& hits);

class LiteralIndex {
 public:
  /// Takes the keys of `keys` that have a shape in `shapes` (same order);
  /// `hostTags[tag]` tells whether a key is matched against the host alone.
  void Build(const std::vector<KeyEntry>& keys, const std::vector<std::optional<IndexShape>>& shapes,
             const std::vector<bool>& hostTags, std::span<const LiteralRequirement> requirements);

  bool Empty() const { return m_keys.empty(); }
  size_t KeyCount() const { return m_keyCount; }
  size_t MemoryBytes() const;

  /// Appends a hit for every key that matches the text at one of its
  /// literal anchors, but no more of one key than can count below
  /// `routeCap`. Returns whether the text has a required literal.
  bool Probe(const PreparedText& text, int32_t routeCap, std::vector<KeyHit>& hits) const;

  /// Routes of a key whose hits are kSpread, over all of its `hits` (sorted
  /// by spreadFrom) in `text`, the text the hits were found in.
  int32_t SpreadRoutes(uint32_t key, std::string_view text, std::span<const KeyHit> hits, int32_t cap) const;

  uint32_t TagOf(uint32_t key) const { return m_keys[key].tag; }
  /// Matched against host and rest, not the host alone.
  bool IsWhole(uint32_t key) const { return (m_keys[key].flags & IndexedKey::kWhole) != 0; }

 private:
  struct Candidate;
  void WriteBytes(const std::vector<KeyEntry>& keys, std::vector<Candidate>& candidates);
  static void MergeVariants(std::vector<Candidate>& candidates);
  void Place(const std::vector<Candidate>& candidates, std::span<const LiteralRequirement> requirements);
  struct ProbeState {
    const PreparedText* text;
    bool hostAnchors;  // probing the host's own anchors, not the whole text's
    int32_t routeCap;
    size_t trimAt;
    bool required;
  };
  void ProbeBucket(const TextAnchor& anchor, ProbeState& state, std::vector<KeyHit>& hits) const;
  void Verify(uint32_t k, const TextAnchor& anchor, std::string_view text, std::vector<KeyHit>& hits) const;
  bool EndsFit(const IndexedKey& key, std::string_view tail) const;
  bool PieceMatches(const IndexedKey& key, size_t from, size_t length, const char* text) const;


  // Two bits per record in its bucket's word: most anchors hold no
  // literal, and this small table tells so without touching the buckets.
  std::vector<uint64_t> m_filter;
  std::vector<uint32_t> m_bucketStart;
  std::vector<IndexedKey> m_keys;
  std::vector<uint8_t> m_bytes;
  unsigned m_shift = 64;  // of an anchor key, to its bucket and filter word
  size_t m_keyCount = 0;
};

}  // namespace mask_engine
