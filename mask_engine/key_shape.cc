#include "mask_engine/key_shape.h"

#include <vector>

#include "mask_engine/mask_symbols.h"

namespace mask_engine {

namespace {

constexpr uint16_t kSlashSymbol = kKeyLiteral | '/';
constexpr uint16_t kDotSymbol = kKeyLiteral | '.';
// Up to this many any-runs after the literal the routes of a key are
// counted by comparisons and one scan for the middle piece.
constexpr unsigned kMaxTailRuns = 2;
// Longer literals and pieces are rare enough for the automaton.
constexpr uint32_t kMaxPieceLength = 255;

}  // namespace

std::optional<IndexShape> ClassifyForIndex(const KeyEntry& key) {
  const uint32_t n = key.EffectiveLength();
  IndexShape shape;
  uint32_t pos = 0;
  if (key.SymbolAt(0) == kKeyAnyRun) {
    if (n < 2 || key.SymbolAt(1) != kDotSymbol) return std::nullopt;
    shape.dot = true;
    pos = 2;
  }
  shape.literalBegin = pos;
  while (pos < n && IsKeyLiteral(key.SymbolAt(pos)) && key.SymbolAt(pos) != kSlashSymbol) ++pos;
  if (pos < n && key.SymbolAt(pos) != kSlashSymbol) return std::nullopt;
  shape.literalLength = pos - shape.literalBegin;
  shape.endsText = pos == n;

  for (; pos < n; ++pos) {
    const uint16_t symbol = key.SymbolAt(pos);
    if (symbol == kKeyAnyRun) {
      if (++shape.runs > kMaxTailRuns) return std::nullopt;
      continue;
    }
    if (++shape.segments[shape.runs] > kMaxPieceLength) return std::nullopt;
  }
  if (shape.literalLength > kMaxPieceLength) return std::nullopt;
  return shape;
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
