#include "mask_engine/literal_index.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <tuple>
#include <unordered_map>

#include "mask_engine/mask_symbols.h"

namespace mask_engine {

namespace {

constexpr uint8_t kTextFlags = IndexedKey::kWhole | IndexedKey::kEndsText;
constexpr uint8_t kAnchorFlags = IndexedKey::kAtDot | IndexedKey::kAtStart;

uint64_t KeyOf(uint64_t literalHash) { return AnchorKey(literalHash, AnchorKind::kStart); }

uint8_t ShapeFlags(const IndexShape& shape, bool whole) {
  return static_cast<uint8_t>((shape.dot ? IndexedKey::kAtDot : IndexedKey::kAtStart) |
                              (whole ? IndexedKey::kWhole : 0) | (shape.endsText ? IndexedKey::kEndsText : 0));
}

uint8_t AcceptFlag(AnchorKind kind) { return kind == AnchorKind::kDot ? IndexedKey::kAtDot : IndexedKey::kAtStart; }

// Literals are short: eight bytes a step, the last (or only) step ending
// where they end. Both sides have LiteralHash::kPadding readable bytes
// before them, which a short compare reads and shifts out.
bool SameBytes(const uint8_t* a, const char* text, size_t length) {
  const auto* b = reinterpret_cast<const uint8_t*>(text);
  if (length < 8) {
    if (length == 0) return true;
    return ((LoadLittle64(a + length - 8) ^ LoadLittle64(b + length - 8)) >> (64 - 8 * length)) == 0;
  }
  for (size_t i = 0; i + 8 < length; i += 8) {
    if (LoadLittle64(a + i) != LoadLittle64(b + i)) return false;
  }
  return LoadLittle64(a + length - 8) == LoadLittle64(b + length - 8);
}


// A text with many anchors for the same keys (a hostile one) keeps its hits
// bounded: past this many, each key keeps only those that can still count.
constexpr size_t kTrimAt = 4096;

// Keeps at most `cap` hits of each key: with spread routes the ones that
// start first, since a place of the middle piece counts for every anchor
// before it and the total is capped.
void TrimHits(std::vector<KeyHit>& hits, int32_t cap) {
  SortHits(hits);
  size_t kept = 0;
  int32_t run = 0;
  KeyHit previous{};
  for (size_t i = 0; i < hits.size(); ++i) {
    const KeyHit hit = hits[i];
    run = i > 0 && hit.SameKey(previous) ? run + 1 : 0;
    previous = hit;
    if (run < cap) hits[kept++] = hit;
  }
  hits.resize(kept);
}

bool TestBit(const uint8_t* bytes, size_t i) { return ((*(bytes - 1 - i / 8) >> (i % 8)) & 1) != 0; }

}  // namespace

void SortHits(std::vector<KeyHit>& hits) {
  std::sort(hits.begin(), hits.end(), [](const KeyHit& a, const KeyHit& b) {
    return std::tie(a.key, a.atStart, a.spreadFrom) < std::tie(b.key, b.atStart, b.spreadFrom);
  });
}

struct LiteralIndex::Candidate {
  uint32_t entry;
  IndexShape shape;
  IndexedKey key;
};

void LiteralIndex::Build(const std::vector<KeyEntry>& keys, const std::vector<std::optional<IndexShape>>& shapes,
                         const std::vector<bool>& hostTags, std::span<const LiteralRequirement> requirements) {
  std::vector<Candidate> candidates;
  for (uint32_t i = 0; i < keys.size(); ++i) {
    if (!shapes[i]) continue;
    const IndexShape& shape = *shapes[i];
    Candidate c{i, shape, {}};
    c.key.tag = static_cast<uint32_t>(keys[i].tag);
    c.key.literalLength = static_cast<uint8_t>(shape.literalLength);
    for (int s = 0; s < 3; ++s) c.key.segments[s] = static_cast<uint8_t>(shape.segments[s]);
    c.key.runs = shape.runs;
    c.key.flags = ShapeFlags(shape, !hostTags[c.key.tag]);
    candidates.push_back(c);
  }
  if (candidates.empty() && requirements.empty()) return;
  m_keyCount = candidates.size();
  WriteBytes(keys, candidates);
  MergeVariants(candidates);
  Place(candidates, requirements);
}

// Variants of one stored key start their literal at the same stored symbol
// and differ only in where they end, so they share the bytes of the longest.
void LiteralIndex::WriteBytes(const std::vector<KeyEntry>& keys, std::vector<Candidate>& candidates) {
  struct Block {
    uint32_t longest;  // candidate with the furthest end
    uint32_t offset;
  };
  struct BlockHash {
    size_t operator()(const std::pair<const uint8_t*, uint32_t>& k) const {
      return std::hash<const uint8_t*>()(k.first) ^ k.second;
    }
  };
  // The stored key and the literal's place in it.
  auto blockOf = [&](const Candidate& c) {
    const KeyEntry& e = keys[c.entry];
    return std::make_pair(e.symbols, e.Head() + c.shape.literalBegin);
  };
  std::unordered_map<std::pair<const uint8_t*, uint32_t>, Block, BlockHash> blocks;
  blocks.reserve(candidates.size());
  for (uint32_t i = 0; i < candidates.size(); ++i) {
    const auto [it, inserted] = blocks.try_emplace(blockOf(candidates[i]), Block{i, 0});
    if (!inserted && keys[candidates[i].entry].Length() > keys[candidates[it->second.longest].entry].Length()) {
      it->second.longest = i;
    }
  }
  std::vector<uint8_t> stripped;
  std::vector<uint8_t> anyChar;
  // Comparisons read up to eight bytes before a literal.
  m_bytes.assign(LiteralHash::kPadding, 0);
  for (auto& [where, block] : blocks) {
    const Candidate& c = candidates[block.longest];
    const KeyEntry& e = keys[c.entry];
    stripped.clear();
    anyChar.clear();
    for (uint32_t p = c.shape.literalBegin; p < e.EffectiveLength(); ++p) {
      const uint16_t symbol = e.SymbolAt(p);
      if (symbol == kKeyAnyRun) continue;
      anyChar.push_back(symbol == kKeyAnyChar);
      stripped.push_back(static_cast<uint8_t>(symbol & 0xFF));
    }
    const bool hasAnyChar = std::find(anyChar.begin(), anyChar.end(), 1) != anyChar.end();
    const size_t bitmap = hasAnyChar ? (stripped.size() + 7) / 8 : 0;
    if (m_bytes.size() + bitmap + stripped.size() > UINT32_MAX) throw std::length_error("mask index too large");
    m_bytes.resize(m_bytes.size() + bitmap, 0);
    block.offset = static_cast<uint32_t>(m_bytes.size());
    m_bytes.insert(m_bytes.end(), stripped.begin(), stripped.end());
    for (size_t i = 0; i < anyChar.size() && bitmap > 0; ++i) {
      if (anyChar[i] != 0) m_bytes[block.offset - 1 - i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    if (bitmap > 0) candidates[block.longest].key.flags |= IndexedKey::kAnyChar;
  }
  for (Candidate& c : candidates) {
    const Block& block = blocks.at(blockOf(c));
    c.key.bytes = block.offset;
    c.key.flags |= candidates[block.longest].key.flags & IndexedKey::kAnyChar;
  }
  m_bytes.shrink_to_fit();
}

// Records that differ only in the anchors they take are one.
void LiteralIndex::MergeVariants(std::vector<Candidate>& candidates) {
  auto content = [](const IndexedKey& k) {
    return std::make_tuple(k.bytes, k.literalLength, k.segments[0], k.segments[1], k.segments[2], k.runs,
                           static_cast<uint8_t>(k.flags & ~kAnchorFlags), k.tag);
  };
  std::sort(candidates.begin(), candidates.end(),
            [&](const Candidate& a, const Candidate& b) { return content(a.key) < content(b.key); });
  size_t kept = 0;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (kept > 0 && content(candidates[kept - 1].key) == content(candidates[i].key)) {
      candidates[kept - 1].key.flags |= candidates[i].key.flags & kAnchorFlags;
      continue;
    }
    candidates[kept++] = candidates[i];
  }
  candidates.resize(kept);
}

void LiteralIndex::Place(const std::vector<Candidate>& candidates, std::span<const LiteralRequirement> requirements) {
  std::vector<IndexedKey> records;
  std::vector<uint64_t> anchorKeys;
  for (const Candidate& c : candidates) {
    records.push_back(c.key);
    anchorKeys.push_back(KeyOf(LiteralHash::Of(&m_bytes[c.key.bytes], c.key.literalLength)));
  }
  // A requirement is only a hint, so its literal is known by its hash.
  for (const LiteralRequirement& r : requirements) {
    IndexedKey record{};
    record.literalLength = static_cast<uint8_t>(std::min<uint32_t>(r.length, 255));
    record.flags = static_cast<uint8_t>(IndexedKey::kRequirement | AcceptFlag(r.kind));
    records.push_back(record);
    anchorKeys.push_back(r.key);
  }
  // About four records (a cache line) a bucket: the filter keeps most
  // probes out anyway. Two buckets at least, so that the shift stays below
  // 64; the filter has a word for each.
  const size_t buckets = std::bit_ceil(std::max<size_t>(2, records.size() / 4));
  m_shift = 64 - static_cast<unsigned>(std::countr_zero(buckets));
  m_bucketStart.assign(buckets + 1, 0);
  for (const uint64_t key : anchorKeys) ++m_bucketStart[(key >> m_shift) + 1];
  for (size_t b = 0; b < buckets; ++b) m_bucketStart[b + 1] += m_bucketStart[b];
  m_filter.assign(buckets, 0);
  for (const uint64_t key : anchorKeys) m_filter[key >> m_shift] |= AnchorFilterBits(key);
  m_keys.resize(records.size());
  std::vector<uint32_t> next(m_bucketStart.begin(), m_bucketStart.end() - 1);
  for (size_t i = 0; i < records.size(); ++i) {
    records[i].check = static_cast<uint16_t>(anchorKeys[i]);
    m_keys[next[anchorKeys[i] >> m_shift]++] = records[i];
  }
}

size_t LiteralIndex::MemoryBytes() const {
  return m_filter.capacity() * sizeof(uint64_t) + m_bucketStart.capacity() * sizeof(uint32_t) +
         m_keys.capacity() * sizeof(IndexedKey) + m_bytes.capacity();
}

bool LiteralIndex::PieceMatches(const IndexedKey& key, size_t from, size_t length, const char* text) const {
  const uint8_t* bytes = m_bytes.data() + key.bytes;
  if ((key.flags & IndexedKey::kAnyChar) == 0) return SameBytes(bytes + from, text, length);
  for (size_t i = 0; i < length; ++i) {
    if (!TestBit(bytes, from + i) && bytes[from + i] != static_cast<uint8_t>(text[i])) return false;
  }
  return true;
}

// Whether the tail's first and last pieces fit `tail`, with room between
// them for the others.
bool LiteralIndex::EndsFit(const IndexedKey& key, std::string_view tail) const {
  const size_t first = key.segments[0];
  const size_t last = key.runs == 0 ? 0 : key.segments[key.runs];
  size_t all = 0;
  for (int s = 0; s <= key.runs; ++s) all += key.segments[s];
  const size_t lastFrom = key.literalLength + all - last;
  return tail.size() >= all && PieceMatches(key, key.literalLength, first, tail.data()) &&
         PieceMatches(key, lastFrom, last, tail.data() + tail.size() - last);
}

int32_t LiteralIndex::SpreadRoutes(uint32_t keyIndex, std::string_view text, std::span<const KeyHit> hits,
                                   int32_t cap) const {
  const IndexedKey& key = m_keys[keyIndex];
  const size_t middle = key.segments[1];
  const size_t from = key.literalLength + key.segments[0];
  const size_t last = text.size() - key.segments[2] - middle;
  // Each place of the middle piece is a route for every anchor before it.
  int32_t routes = 0;
  size_t anchors = 0;
  for (size_t p = hits.front().spreadFrom; p <= last; ++p) {
    while (anchors < hits.size() && hits[anchors].spreadFrom <= p) ++anchors;
    if (!PieceMatches(key, from, middle, text.data() + p)) continue;
    routes = std::min<int32_t>(cap, routes + static_cast<int32_t>(std::min<size_t>(anchors, INT32_MAX)));
    if (routes == cap) break;
  }
  return routes;
}

// Host keys and whole keys with the same literal share a bucket, so the
// host's anchors, when they are the whole text's first segment, are looked
// up once for both. Most anchors stop at the filter.
bool LiteralIndex::Probe(const PreparedText& text, int32_t routeCap, std::vector<KeyHit>& hits) const {
  if (m_keys.empty()) return false;
  const uint64_t* const filter = m_filter.data();
  const unsigned shift = m_shift;
  ProbeState state{&text, false, routeCap, std::max(kTrimAt, 2 * hits.size()), false};
  auto probe = [&](std::span<const TextAnchor> anchors) {
    for (const TextAnchor& anchor : anchors) {
      if ((filter[anchor.key >> shift] & anchor.filterBits) == anchor.filterBits) ProbeBucket(anchor, state, hits);
    }
  };
  probe(text.WholeLiterals());
  if (!text.HostIsFirstSegment()) {
    state.hostAnchors = true;
    probe(text.HostLiterals());
  }
  return state.required;
}

void LiteralIndex::ProbeBucket(const TextAnchor& anchor, ProbeState& state, std::vector<KeyHit>& hits) const {
  // The texts the anchor is in (a null view: not that one).
  const std::string_view whole = state.hostAnchors ? std::string_view() : state.text->Whole();
  const std::string_view host =
      state.hostAnchors || state.text->HostIsFirstSegment() ? state.text->Host() : std::string_view();
  const char* const base = whole.data() != nullptr ? whole.data() : host.data();
  const size_t bucket = anchor.key >> m_shift;
  const auto check = static_cast<uint16_t>(anchor.key);
  const uint32_t length = anchor.end - anchor.begin;
  const uint8_t accept = AcceptFlag(anchor.kind);
  for (uint32_t k = m_bucketStart[bucket]; k < m_bucketStart[bucket + 1]; ++k) {
    const IndexedKey& key = m_keys[k];
    if (key.check != check || key.literalLength != std::min<uint32_t>(length, 255) || (key.flags & accept) == 0) {
      continue;
    }
    if ((key.flags & IndexedKey::kRequirement) != 0) {
      state.required = true;
      continue;
    }
    if (length > 255) continue;
    // The key matches at this anchor in the text its shape asks for.
    const uint8_t shape = key.flags & kTextFlags;
    std::string_view text;
    if (whole.data() != nullptr &&
        shape == (IndexedKey::kWhole | (anchor.end == whole.size() ? IndexedKey::kEndsText : 0))) {
      text = whole;
    } else if (host.data() != nullptr && anchor.end <= host.size() &&
               shape == (anchor.end == host.size() ? IndexedKey::kEndsText : 0)) {
      text = host;
    } else {
      continue;
    }
    if (!SameBytes(m_bytes.data() + key.bytes, base + anchor.begin, length)) continue;
    Verify(k, anchor, text, hits);
    if (hits.size() >= state.trimAt) {
      TrimHits(hits, state.routeCap);
      state.trimAt = std::max(kTrimAt, 2 * hits.size());
    }
  }
}

void LiteralIndex::Verify(uint32_t k, const TextAnchor& anchor, std::string_view text,
                          std::vector<KeyHit>& hits) const {
  const IndexedKey& key = m_keys[k];
  const bool atStart = anchor.kind == AnchorKind::kStart;
  const std::string_view tail = text.substr(anchor.end);
  // A tail without any-run is the commonest ('*.name.tld', whose text ends
  // at the literal); with at most one any-run there is at most one route.
  if (key.runs == 0) {
    if (tail.size() == key.segments[0] && PieceMatches(key, key.literalLength, tail.size(), tail.data())) {
      hits.push_back(KeyHit{k, atStart, 1, 0});
    }
  } else if (!EndsFit(key, tail)) {
    return;
  } else if (key.runs == 1) {
    hits.push_back(KeyHit{k, atStart, 1, 0});
  } else {
    hits.push_back(KeyHit{k, atStart, KeyHit::kSpread, anchor.end + key.segments[0]});
  }
}

}  // namespace mask_engine
