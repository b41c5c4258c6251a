// The literal index: keys that one literal anchors (see key_shape.h), found
// by hashing the anchors of the text, then checked by plain comparisons.
//
// Keys live in a hash table of buckets laid out back to back (bucket b holds
// keys [bucketStart[b], bucketStart[b + 1])). A simple key's bytes are its
// symbols from the literal on, any-runs left out: the literal, then the
// tail's pieces; variants of one stored key share these bytes. Other keys
// have their literal followed by their pieces (see key_pieces.h). When the
// bytes hold a '?', a bitmap of the '?' positions (bit i of byte i / 8,
// counted back from the first byte) sits just before them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "mask_engine/key_pieces.h"
#include "mask_engine/prepared_text.h"
#include "mask_engine/text_anchors.h"

namespace mask_engine {

struct IndexedKey {
  static constexpr uint8_t kAtDot = 0x01;        // the literal follows a '.' of the text
  static constexpr uint8_t kWhole = 0x02;        // matched against host and rest, not the host alone
  static constexpr uint8_t kEndsText = 0x04;     // nothing after the literal
  static constexpr uint8_t kAnyChar = 0x08;      // the bytes have a '?' bitmap
  static constexpr uint8_t kRequirement = 0x10;  // not a key: a literal the automaton needs
  // A '*.name.tld' key and its 'name.tld' variant of the same mask are one
  // record that takes both anchors.
  static constexpr uint8_t kAtStart = 0x20;      // the literal starts the text
  static constexpr uint8_t kPieced = 0x40;       // not simple: the pieces follow the literal

  uint32_t tag;
  uint32_t bytes;          // offset in the byte pool
  uint8_t literalLength;   // a requirement's: at most 255
  // A simple key's tail: its first piece, and with one any-run the last.
  uint8_t firstPiece;
  uint8_t lastPiece;
  uint8_t runs;
  uint16_t check;          // more bits of the bucket hash
  uint8_t flags;
  uint8_t unused;
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
/// routes count apart), and the number of routes. A key whose middle
/// pieces need counting leaves that to Routes, which counts them once for
/// all anchors of the key; its hit keeps the anchor.
struct KeyHit {
  static constexpr int32_t kDeferred = -1;
  uint32_t key;
  bool atStart;
  int32_t routes;   // or kDeferred
  uint32_t anchor;  // with kDeferred: where the literal starts

  bool SameKey(const KeyHit& other) const { return key == other.key && atStart == other.atStart; }
};

/// Orders hits by key, anchor kind and anchor.
void SortHits(std::vector<KeyHit>& hits);

/// What matching a text against the index reuses.
struct IndexScratch {
  std::vector<KeyHit> hits;
  std::vector<int32_t> headRows;
  std::vector<int32_t> tailRows;
};

class LiteralIndex {
 public:
  /// Takes the keys' records and their byte pool (see IndexBuilder), and
  /// the literals that the automaton's keys need.
  void Build(std::vector<IndexedKey> records, std::vector<uint8_t> bytes,
             std::span<const LiteralRequirement> requirements);

  bool Empty() const { return m_keys.empty(); }
  size_t MemoryBytes() const;

  /// Appends a hit for every key that matches the text at one of its
  /// literal anchors to `scratch.hits`, keeping them few however many
  /// anchors a key has (their routes only count up to `routeCap`). Returns
  /// whether the text has a required literal.
  bool Probe(const PreparedText& text, int32_t routeCap, IndexScratch& scratch) const;

  /// Routes of one key over all of its `hits` (the same key and anchor
  /// kind) in `text`, capped at `cap`.
  int32_t Routes(std::span<const KeyHit> hits, const PreparedText& text, int32_t cap, IndexScratch& scratch) const;

  uint32_t TagOf(uint32_t key) const { return m_keys[key].tag; }

 private:
  struct ProbeState {
    const PreparedText* text;
    bool hostAnchors;  // probing the host's own anchors, not the whole text's
    int32_t routeCap;
    size_t trimAt;
    bool required;
    IndexScratch* scratch;
    size_t scanBudget;  // bytes that checks of middle pieces may still look at
  };
  void Place(std::vector<IndexedKey>& records, std::span<const LiteralRequirement> requirements);
  void ProbeBucket(const TextAnchor& anchor, ProbeState& state) const;
  void Verify(uint32_t k, const TextAnchor& anchor, std::string_view text, ProbeState& state) const;
  bool MiddlesMayFit(const IndexedKey& key, const Pieces& pieces, const char* text, size_t from, size_t to,
                     ProbeState& state) const;
  void Trim(ProbeState& state) const;
  int32_t DeferredRoutes(uint32_t k, std::string_view text, std::span<const KeyHit> hits, int32_t cap,
                         IndexScratch& scratch) const;
  bool PieceMatches(const IndexedKey& key, size_t from, size_t length, const char* text) const;
  bool EdgesFit(const IndexedKey& key, const Pieces& pieces, const char* text, size_t begin, size_t end) const;

  // Two bits per record in its bucket's word: most anchors hold no
  // literal, and this small table tells so without touching the buckets.
  std::vector<uint64_t> m_filter;
  std::vector<uint32_t> m_bucketStart;
  std::vector<IndexedKey> m_keys;
  std::vector<uint8_t> m_bytes;
  unsigned m_shift = 64;  // of an anchor key, to its bucket and filter word
};

}  // namespace mask_engine
