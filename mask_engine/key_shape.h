// Which keys the literal index can answer, and how.
//
// A key goes to the index when it holds a literal that the text's anchors
// find (see text_anchors.h): a run of literal bytes without '/' that starts
// the key or follows a literal '.', and ends at a literal '/' or at the end
// of the key. Whatever text matches the key holds that literal at one of
// its start or dot anchors. The key is then its head (what comes before the
// literal), the literal and its tail (from the '/' on), head and tail split
// at their any-runs into pieces; a match is the literal at an anchor, the
// head's pieces placed in order before it and the tail's after it.
//
// Most keys are simple: a head that is nothing ('name.tld/path*') or '*.'
// ('*.name.tld/path*'), and a tail with at most one any-run, so that one
// comparison at each end tells whether and how often they match. Keys
// without such a literal ('*.name.*/path/', 'a*b') are left to the
// automaton.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "mask_engine/key_list.h"
#include "mask_engine/text_anchors.h"

namespace mask_engine {

struct IndexShape {
  // Literal and pieces stay within this; more any-runs than kMaxRuns on
  // one side are rare enough for the automaton.
  static constexpr uint32_t kMaxPieceLength = 255;
  static constexpr uint32_t kMaxRuns = 15;

  enum class Fit {
    kIndex,      // the index takes the key
    kNoLiteral,  // no literal an anchor finds: the automaton's
    kTooLarge,   // a literal, but past the limits above
  };

  Fit fit = Fit::kNoLiteral;
  uint32_t literalBegin = 0;  // the literal is symbols [literalBegin, literalEnd)
  uint32_t literalEnd = 0;
};

/// The shape of a key (mask symbols, see mask_symbols.h) in the index. The
/// variants of one key (see mask_keys.h) have the same literal, at the same
/// stored symbol; when the key fits, so do they, and when it has no
/// literal, neither have they.
IndexShape ClassifyForIndex(std::span<const uint32_t> key);

/// A literal that every text the key matches holds at one of its anchors:
/// effective symbols [begin, begin + length) of the key.
struct RequiredAnchor {
  AnchorKind kind;
  uint32_t begin;
  uint32_t length;
};

/// Every required anchor of the key (none when all its literals touch a
/// wildcard on the side that matters).
std::vector<RequiredAnchor> RequiredAnchorsOf(const KeyEntry& key);

}  // namespace mask_engine
