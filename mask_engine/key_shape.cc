#include "mask_engine/key_shape.h"

#include <algorithm>
#include <vector>

#include "mask_engine/mask_symbols.h"

namespace mask_engine {

namespace {

constexpr uint16_t kSlashSymbol = kKeyLiteral | '/';
constexpr uint16_t kDotSymbol = kKeyLiteral | '.';

bool IsPlain(uint32_t symbol) { return symbol < kAnyRunSymbol && symbol != '/'; }

// Whether a head or tail has few enough any-runs, and short enough pieces
// between them.
bool FitsPieces(std::span<const uint32_t> part) {
  uint32_t runs = 0;
  uint32_t piece = 0;
  for (const uint32_t symbol : part) {
    if (symbol != kAnyRunSymbol) {
      if (++piece > IndexShape::kMaxPieceLength) return false;
    } else if (++runs > IndexShape::kMaxRuns) {
      return false;
    } else {
      piece = 0;
    }
  }
  return true;
}

}  // namespace

// The literal is the first one that an anchor finds: keys mostly begin
// with it or with '*.' before it, which keeps them simple.
IndexShape ClassifyForIndex(std::span<const uint32_t> key) {
  const auto n = static_cast<uint32_t>(key.size());
  uint32_t stop = 0;  // the first symbol from the candidate on that is not plain
  for (uint32_t i = 0; i <= n; ++i) {
    if (i > 0 && key[i - 1] != '.') continue;
    stop = std::max(stop, i);
    while (stop < n && IsPlain(key[stop])) ++stop;
    if (stop < n && key[stop] != '/') continue;
    const bool fits =
        stop - i <= IndexShape::kMaxPieceLength && FitsPieces(key.first(i)) && FitsPieces(key.subspan(stop));
    return IndexShape{fits ? IndexShape::Fit::kIndex : IndexShape::Fit::kTooLarge, i, stop};
  }
  return IndexShape{};
}

// A literal that starts the key or follows a literal '.' or '/', and runs to
// a literal '/' or the end of the key, sits at a start, dot or segment
// anchor of the text; a literal between such edges and a '.', '/' or the
// end of the key is a label of the text.
std::vector<RequiredAnchor> RequiredAnchorsOf(const KeyEntry& key) {
  const uint32_t n = key.EffectiveLength();
  // stop[i] / labelStop[i]: the first position from i on that holds a
  // wildcard or '/' (and '.' for labels).
  std::vector<uint32_t> stop(n + 1, n);
  std::vector<uint32_t> labelStop(n + 1, n);
  for (uint32_t i = n; i-- > 0;) {
    const uint16_t symbol = key.SymbolAt(i);
    stop[i] = IsKeyLiteral(symbol) && symbol != kSlashSymbol ? stop[i + 1] : i;
    labelStop[i] = IsKeyLiteral(symbol) && symbol != kSlashSymbol && symbol != kDotSymbol ? labelStop[i + 1] : i;
  }
  std::vector<RequiredAnchor> anchors;
  for (uint32_t i = 0; i <= n; ++i) {
    AnchorKind kind = AnchorKind::kStart;
    if (i > 0) {
      const uint16_t before = key.SymbolAt(i - 1);
      if (before != kDotSymbol && before != kSlashSymbol) continue;
      kind = before == kDotSymbol ? AnchorKind::kDot : AnchorKind::kSegment;
    } else if (!IsKeyLiteral(key.SymbolAt(0))) {
      continue;
    }
    const uint32_t end = stop[i];
    if (end == n || key.SymbolAt(end) == kSlashSymbol) anchors.push_back(RequiredAnchor{kind, i, end - i});
    const uint32_t labelEnd = labelStop[i];
    if (labelEnd == n || key.SymbolAt(labelEnd) == kSlashSymbol || key.SymbolAt(labelEnd) == kDotSymbol) {
      anchors.push_back(RequiredAnchor{AnchorKind::kLabel, i, labelEnd - i});
    }
  }
  return anchors;
}

}  // namespace mask_engine
