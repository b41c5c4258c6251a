#include "mask_engine/automaton_prefilter.h"

#include <algorithm>
#include <bit>
#include <optional>

#include "mask_engine/key_shape.h"
#include "mask_engine/mask_symbols.h"

namespace mask_engine {

namespace {

constexpr size_t kTrigramBits = size_t{1} << 16;
bool IsEdge(AnchorKind kind) { return kind == AnchorKind::kSegment || kind == AnchorKind::kLabel; }

bool TestBit(const std::vector<uint64_t>& bits, size_t i) { return ((bits[i / 64] >> (i % 64)) & 1) != 0; }
void SetBit(std::vector<uint64_t>& bits, size_t i) { bits[i / 64] |= uint64_t{1} << (i % 64); }

// Bit of an edge literal's length (up to 31) in its first byte's entry of
// an edge shape table; an empty literal is wanted whatever byte follows.
void AddEdgeShape(std::vector<uint32_t>& shapes, const std::vector<uint8_t>& literal) {
  if (shapes.empty()) shapes.assign(256, 0);
  if (literal.empty()) {
    for (uint32_t& shape : shapes) shape |= 1;
    return;
  }
  shapes[literal[0]] |= uint32_t{1} << std::min<size_t>(literal.size(), 31);
}

bool WantedEdge(const uint32_t* shapes, const uint8_t* text, size_t begin, size_t end) {
  const uint8_t first = begin < end ? text[begin] : 0;
  return ((shapes[first] >> std::min<size_t>(end - begin, 31)) & 1) != 0;
}

// Calls `visit(hash)` for every run of three literals in the key.
template <class Visit>
void ForEachTrigram(const KeyEntry& key, Visit&& visit) {
  const uint32_t n = key.EffectiveLength();
  for (uint32_t p = 0; p + 3 <= n; ++p) {
    const uint16_t a = key.SymbolAt(p), b = key.SymbolAt(p + 1), c = key.SymbolAt(p + 2);
    if (IsKeyLiteral(a) && IsKeyLiteral(b) && IsKeyLiteral(c)) {
      visit(TrigramHash(static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(c)));
    }
  }
}

}  // namespace

// The automaton's keys are few, and so are their trigrams: a bit per hash
// tells which to count, and the counts sit in a short sorted table.
TrigramUses::TrigramUses(std::span<const KeyEntry> keys, std::string_view maskTexts) : m_wanted(kTrigramBits / 64, 0) {
  for (const KeyEntry& key : keys) ForEachTrigram(key, [&](uint16_t hash) { m_hashes.push_back(hash); });
  std::sort(m_hashes.begin(), m_hashes.end());
  m_hashes.erase(std::unique(m_hashes.begin(), m_hashes.end()), m_hashes.end());
  for (const uint16_t hash : m_hashes) SetBit(m_wanted, hash);
  m_counts.assign(m_hashes.size(), 0);
  // The last three bytes, as TrigramHash takes them.
  uint32_t window = 0;
  for (size_t i = 0; i < maskTexts.size(); ++i) {
    window = window >> 8 | uint32_t{static_cast<uint8_t>(maskTexts[i])} << 16;
    const uint16_t hash = TrigramHash(window);
    if (i < 2 || !TestBit(m_wanted, hash)) continue;
    uint16_t& count = m_counts[Slot(hash)];
    if (count < 0xFFFF) ++count;
  }
}

size_t TrigramUses::Slot(uint16_t hash) const {
  return static_cast<size_t>(std::lower_bound(m_hashes.begin(), m_hashes.end(), hash) - m_hashes.begin());
}

uint16_t TrigramUses::Of(uint16_t hash) const { return TestBit(m_wanted, hash) ? m_counts[Slot(hash)] : 0; }

namespace {

// Lower is rarer: the fewest uses of any of the literal's trigrams, and
// literals too short for one after all others, the longer first.
uint32_t Rarity(const std::vector<uint8_t>& literal, const TrigramUses& uses) {
  if (literal.size() < 3) return 0x10000 + 3 - static_cast<uint32_t>(literal.size());
  uint32_t rarest = 0xFFFF;
  for (size_t i = 0; i + 3 <= literal.size(); ++i) {
    rarest = std::min<uint32_t>(rarest, uses.Of(TrigramHash(literal[i], literal[i + 1], literal[i + 2])));
  }
  return rarest;
}

struct Choice {
  AnchorKind kind;
  std::vector<uint8_t> literal;
};

// The key's rarest required literal: the names of trackers, not 'ads' or
// 'com'.
std::optional<Choice> RarestAnchor(const KeyEntry& key, const TrigramUses& uses) {
  std::optional<Choice> best;
  uint32_t bestScore = UINT32_MAX;
  std::vector<uint8_t> literal;
  for (const RequiredAnchor& anchor : RequiredAnchorsOf(key)) {
    literal.clear();
    for (uint32_t p = 0; p < anchor.length; ++p) literal.push_back(static_cast<uint8_t>(key.SymbolAt(anchor.begin + p)));
    const uint32_t score = Rarity(literal, uses);
    if (best && score >= bestScore) continue;
    bestScore = score;
    best = Choice{anchor.kind, literal};
  }
  return best;
}

}  // namespace

std::vector<LiteralRequirement> AutomatonPrefilter::Build(std::span<const KeyEntry> automatonKeys,
                                                          std::string_view maskTexts,
                                                          const std::vector<bool>& hostTags) {
  std::vector<LiteralRequirement> literals;
  if (automatonKeys.empty()) return literals;
  m_hostOnly = std::all_of(automatonKeys.begin(), automatonKeys.end(),
                           [&](const KeyEntry& key) { return key.tag < hostTags.size() && hostTags[key.tag]; });
  const TrigramUses uses(automatonKeys, maskTexts);
  std::vector<uint64_t> edges;
  std::vector<const KeyEntry*> withoutAnchor;
  for (const KeyEntry& key : automatonKeys) {
    const std::optional<Choice> choice = RarestAnchor(key, uses);
    if (!choice) {
      withoutAnchor.push_back(&key);
      continue;
    }
    const uint64_t anchorKey = AnchorKey(LiteralHash::Of(choice->literal.data(), choice->literal.size()), choice->kind);
    if (!IsEdge(choice->kind)) {
      literals.push_back(LiteralRequirement{anchorKey, static_cast<uint32_t>(choice->literal.size()), choice->kind});
      continue;
    }
    edges.push_back(anchorKey);
    AddEdgeShape(choice->kind == AnchorKind::kLabel ? m_labelShapes : m_segmentShapes, choice->literal);
  }
  if (!edges.empty()) AddAnchors(edges);
  if (!withoutAnchor.empty()) AddTrigrams(withoutAnchor, uses);
  return literals;
}

void AutomatonPrefilter::AddAnchors(const std::vector<uint64_t>& anchors) {
  const size_t slots = std::bit_ceil(anchors.size() * 2);
  m_anchorShift = 64 - static_cast<unsigned>(std::countr_zero(slots));
  m_anchors.assign(slots, 0);
  for (const uint64_t mixed : anchors) {
    size_t i = mixed >> m_anchorShift;
    while (m_anchors[i] != 0 && m_anchors[i] != mixed) i = (i + 1) & (slots - 1);
    m_anchors[i] = mixed;
  }
}

bool AutomatonPrefilter::HasAnchor(uint64_t mixed) const {
  for (size_t i = mixed >> m_anchorShift;; i = (i + 1) & (m_anchors.size() - 1)) {
    if (m_anchors[i] == mixed) return true;
    if (m_anchors[i] == 0) return false;
  }
}

// A key without anchors is known by its rarest trigram.
void AutomatonPrefilter::AddTrigrams(std::span<const KeyEntry* const> keys, const TrigramUses& uses) {
  m_trigramBits.assign(kTrigramBits / 64, 0);
  for (const KeyEntry* key : keys) {
    bool found = false;
    uint16_t rarest = 0;
    ForEachTrigram(*key, [&](uint16_t hash) {
      if (!found || uses.Of(hash) < uses.Of(rarest)) rarest = hash;
      found = true;
    });
    if (!found) {
      m_passAll = true;
      return;
    }
    SetBit(m_trigramBits, rarest);
  }
}

bool AutomatonPrefilter::HasEdge(AnchorKind kind, const uint8_t* text, size_t begin, size_t end) const {
  return HasAnchor(AnchorKey(LiteralHash::OfPadded(text + begin, end - begin), kind));
}

// Edges are many and seldom wanted: only those whose length and first byte
// some key asks for are hashed. Labels run between any two separators or
// the ends of the text.
bool AutomatonPrefilter::AnyLabel(std::string_view text, std::span<const uint32_t> separators) const {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const uint32_t* const shapes = m_labelShapes.data();
  size_t begin = 0;
  for (const size_t pos : separators) {
    if (WantedEdge(shapes, bytes, begin, pos) && HasEdge(AnchorKind::kLabel, bytes, begin, pos)) return true;
    begin = pos + 1;
  }
  return WantedEdge(shapes, bytes, begin, text.size()) &&
         HasEdge(AnchorKind::kLabel, bytes, begin, text.size());
}

// Segments run from a '/' to the next one or the end of the text.
bool AutomatonPrefilter::AnySegment(std::string_view text, std::span<const uint32_t> separators) const {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const uint32_t* const shapes = m_segmentShapes.data();
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t begin = kNone;
  for (const size_t pos : separators) {
    if (bytes[pos] != '/') continue;
    if (begin != kNone && WantedEdge(shapes, bytes, begin, pos) &&
        HasEdge(AnchorKind::kSegment, bytes, begin, pos)) {
      return true;
    }
    begin = pos + 1;
  }
  return begin != kNone && WantedEdge(shapes, bytes, begin, text.size()) &&
         HasEdge(AnchorKind::kSegment, bytes, begin, text.size());
}

// A host that is not the whole text's first segment has edges of its own.
bool AutomatonPrefilter::AnyHostEdge(const PreparedText& text) const {
  return (!m_labelShapes.empty() && AnyLabel(text.Host(), text.HostSeparators())) ||
         (!m_segmentShapes.empty() && AnySegment(text.Host(), text.HostSeparators()));
}

bool AutomatonPrefilter::AnyTrigramOf(std::string_view text) const {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t i = 0; i + 3 <= text.size(); ++i) {
    if (TestBit(m_trigramBits, TrigramHash(bytes[i], bytes[i + 1], bytes[i + 2]))) return true;
  }
  return false;
}

}  // namespace mask_engine
