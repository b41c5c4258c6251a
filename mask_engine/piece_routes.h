// Counting the routes of the middle pieces of a head or tail: the ways to
// place them, in order and without overlap, between the pieces fixed at its
// ends. One pass answers for every window that shares one edge, so a key
// found at many anchors costs one pass, not one per anchor.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace mask_engine {

/// Ways, capped at `cap`, to place pieces [first, last) one after another
/// in a window of the text, for every window width q in [0, width]: the
/// window is text[edge, edge + q) when `forward`, text[edge - q, edge)
/// otherwise. `length(i)` is the length of piece i, and `matches(i, p)`
/// whether its bytes are the text's at position p. The answer lives in
/// `rows` until its next use.
template <class Length, class Matches>
std::span<const int32_t> CountPlacements(uint32_t first, uint32_t last, Length&& length, Matches&& matches,
                                         bool forward, size_t edge, size_t width, int32_t cap,
                                         std::vector<int32_t>& rows) {
  rows.resize(2 * (width + 1));
  int32_t* placed = rows.data();  // the pieces met so far from the fixed edge
  int32_t* next = placed + width + 1;
  std::fill(placed, placed + width + 1, 1);
  for (uint32_t step = first; step < last; ++step) {
    // From the fixed edge the pieces are met in their order, or backwards.
    const uint32_t piece = forward ? step : first + last - 1 - step;
    const size_t n = length(piece);
    for (size_t q = 0; q <= width; ++q) {
      // Either the piece lies before width q - 1 already, or it ends at q.
      int32_t ways = q > 0 ? next[q - 1] : 0;
      if (q >= n && placed[q - n] > 0 && matches(piece, forward ? edge + q - n : edge - q)) {
        ways = std::min(cap, ways + placed[q - n]);
      }
      next[q] = ways;
    }
    std::swap(placed, next);
  }
  return {placed, width + 1};
}

}  // namespace mask_engine
