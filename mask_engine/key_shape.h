// Which compiled keys the literal index can answer, and how.
//
// A key goes to the index when its matches can be found from one literal
// that ends where a '/'-free segment of the text ends:
//   start keys   'name.tld', 'name.tld/path*', '/ad/*': the literal is the
//                whole first segment of the text;
//   dot keys     '*.name.tld', '*.name.tld/path*': '*.' then the literal,
//                which follows a '.' anywhere in the text.
// After the literal comes the tail: nothing (the text ends there) or '/'
// and a pattern with at most two any-runs, so that its routes are counted by
// plain comparisons and at most one scan. Everything else (wildcards inside
// the literal, a '*' not followed by '.', more any-runs) is left to the
// automaton.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "mask_engine/key_list.h"
#include "mask_engine/text_anchors.h"

namespace mask_engine {

struct IndexShape {
  bool dot = false;            // '*.' precedes the literal
  uint32_t literalBegin = 0;   // effective position of the literal
  uint32_t literalLength = 0;
  bool endsText = false;       // no tail: the literal ends the text
  uint8_t runs = 0;            // any-runs in the tail
  uint32_t segments[3] = {};   // tail pieces between its any-runs
};

/// The key's shape in the index, or nullopt when the automaton must match it.
std::optional<IndexShape> ClassifyForIndex(const KeyEntry& key);

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
