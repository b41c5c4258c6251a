#include "mask_engine/literal_index.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <tuple>

#include "mask_engine/piece_routes.h"

namespace mask_engine {

namespace {

constexpr uint8_t kTextFlags = IndexedKey::kWhole | IndexedKey::kEndsText;

uint64_t KeyOf(uint64_t literalHash) { return AnchorKey(literalHash, AnchorKind::kStart); }

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
// bounded: past this many, the hits of each key are summed up in one.
constexpr size_t kTrimAt = 4096;

// Checks of middle pieces look at up to this many bytes for each byte of
// the text.
constexpr size_t kScanBudgetPerByte = 4;

// The first position of `byte` in text[from, to), or `to`: eight bytes a
// step, reading up to seven past `to`, as texts allow.
size_t FindByte(const char* text, size_t from, size_t to, uint8_t byte) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  for (size_t at = from; at < to; at += 8) {
    const uint64_t x = LoadLittle64(reinterpret_cast<const uint8_t*>(text) + at) ^ (kOnes * byte);
    // The lowest bit set is that of the first zero byte.
    const uint64_t zeros = (x - kOnes) & ~x & (kOnes << 7);
    if (zeros != 0) return std::min(to, at + static_cast<size_t>(std::countr_zero(zeros)) / 8);
  }
  return to;
}

bool TestReverseBit(const uint8_t* bytes, size_t i) { return ((*(bytes - 1 - i / 8) >> (i % 8)) & 1) != 0; }

// A simple key's tail as pieces: the first, and the last after its any-run.
Pieces SimpleTail(const IndexedKey& key, uint8_t (&entries)[2 * Pieces::kEntryBytes]) {
  WritePieceEntry(entries, key.literalLength, key.firstPiece);
  WritePieceEntry(entries + Pieces::kEntryBytes, key.literalLength + key.firstPiece, key.lastPiece);
  return Pieces{key.runs + 1u, entries};
}

}  // namespace

void SortHits(std::vector<KeyHit>& hits) {
  std::sort(hits.begin(), hits.end(), [](const KeyHit& a, const KeyHit& b) {
    return std::tie(a.key, a.atStart, a.anchor) < std::tie(b.key, b.atStart, b.anchor);
  });
}

void LiteralIndex::Build(std::vector<IndexedKey> records, std::vector<uint8_t> bytes,
                         std::span<const LiteralRequirement> requirements) {
  if (records.empty() && requirements.empty()) return;
  m_bytes = std::move(bytes);
  m_bytes.shrink_to_fit();
  Place(records, requirements);
}

void LiteralIndex::Place(std::vector<IndexedKey>& records, std::span<const LiteralRequirement> requirements) {
  std::vector<uint64_t> anchorKeys;
  anchorKeys.reserve(records.size() + requirements.size());
  for (const IndexedKey& r : records) {
    anchorKeys.push_back(KeyOf(LiteralHash::Of(&m_bytes[r.bytes], r.literalLength)));
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
    if (!TestReverseBit(bytes, from + i) && bytes[from + i] != static_cast<uint8_t>(text[i])) return false;
  }
  return true;
}

// Whether the first and the last of `pieces` fit text[begin, end) at its
// two ends with room between them, or the only one fills it.
bool LiteralIndex::EdgesFit(const IndexedKey& key, const Pieces& pieces, const char* text, size_t begin,
                            size_t end) const {
  const size_t first = pieces.Length(0);
  if (pieces.count == 1) return end - begin == first && PieceMatches(key, pieces.Offset(0), first, text + begin);
  const size_t last = pieces.Last();
  return end - begin >= first + last && PieceMatches(key, pieces.Offset(0), first, text + begin) &&
         PieceMatches(key, pieces.Offset(pieces.count - 1), last, text + end - last);
}

// Host keys and whole keys with the same literal share a bucket, so the
// host's anchors, when they are the whole text's first segment, are looked
// up once for both. Most anchors stop at the filter.
bool LiteralIndex::Probe(const PreparedText& text, int32_t routeCap, IndexScratch& scratch) const {
  if (m_keys.empty()) return false;
  const uint64_t* const filter = m_filter.data();
  const unsigned shift = m_shift;
  ProbeState state{&text, false, routeCap, std::max(kTrimAt, 2 * scratch.hits.size()), false, &scratch,
                   kScanBudgetPerByte * text.Whole().size() + kScanBudgetPerByte};
  auto probe = [&](std::span<const TextAnchor> anchors) {
    for (const TextAnchor& anchor : anchors) {
      if ((filter[anchor.key >> shift] & anchor.filterBits) == anchor.filterBits) ProbeBucket(anchor, state);
    }
  };
  probe(text.WholeLiterals());
  if (!text.HostIsFirstSegment()) {
    state.hostAnchors = true;
    probe(text.HostLiterals());
  }
  return state.required;
}

void LiteralIndex::ProbeBucket(const TextAnchor& anchor, ProbeState& state) const {
  // The texts the anchor is in (a null view: not that one).
  const std::string_view whole = state.hostAnchors ? std::string_view() : state.text->Whole();
  const std::string_view host =
      state.hostAnchors || state.text->HostIsFirstSegment() ? state.text->Host() : std::string_view();
  const char* const base = whole.data() != nullptr ? whole.data() : host.data();
  const size_t bucket = anchor.key >> m_shift;
  const auto check = static_cast<uint16_t>(anchor.key);
  const uint32_t length = anchor.end - anchor.begin;
  const uint8_t accept = AcceptFlag(anchor.kind);
  std::vector<KeyHit>& hits = state.scratch->hits;
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
    Verify(k, anchor, text, state);
    if (hits.size() >= state.trimAt) Trim(state);
  }
}

// A simple key's head is nothing or '*.', which the anchor's kind already
// answers: one route if its tail fits. A pieced key whose middle pieces
// need no counting has one route too; one whose middle pieces do is
// counted later, if they fit at all.
void LiteralIndex::Verify(uint32_t k, const TextAnchor& anchor, std::string_view text, ProbeState& state) const {
  const IndexedKey& key = m_keys[k];
  const bool atStart = anchor.kind == AnchorKind::kStart;
  std::vector<KeyHit>& hits = state.scratch->hits;
  if ((key.flags & IndexedKey::kPieced) == 0) {
    // Mostly a host's key, whose literal ends the text.
    uint8_t entries[2 * Pieces::kEntryBytes];
    if ((key.flags & IndexedKey::kEndsText) != 0 ||
        EdgesFit(key, SimpleTail(key, entries), text.data(), anchor.end, text.size())) {
      hits.push_back(KeyHit{k, atStart, 1, 0});
    }
    return;
  }
  const PiecedKey pieced = ReadPiecedKey(m_bytes.data() + key.bytes, key.literalLength);
  const Pieces& head = pieced.head;
  const Pieces& tail = pieced.tail;
  // A host key's tail is empty, and the anchor ends the host.
  if (!EdgesFit(key, head, text.data(), 0, anchor.begin) ||
      ((key.flags & IndexedKey::kEndsText) == 0 && !EdgesFit(key, tail, text.data(), anchor.end, text.size()))) {
    return;
  }
  if (head.count <= 2 && tail.count <= 2) {
    hits.push_back(KeyHit{k, atStart, 1, 0});
    return;
  }
  if (!MiddlesMayFit(key, head, text.data(), head.Length(0), anchor.begin - head.Last(), state) ||
      !MiddlesMayFit(key, tail, text.data(), anchor.end + tail.Length(0), text.size() - tail.Last(), state)) {
    return;
  }
  hits.push_back(KeyHit{k, atStart, KeyHit::kDeferred, anchor.begin});
}

// Whether the middle pieces fit text[from, to) one after another, each
// where it first can (if they fit anywhere, they fit so). Most anchors of
// a key like '*.ads*.com' fail here. A text with many anchors for one key
// would make these scans quadratic: past a budget they say "may".
bool LiteralIndex::MiddlesMayFit(const IndexedKey& key, const Pieces& pieces, const char* text, size_t from,
                                 size_t to, ProbeState& state) const {
  if (pieces.count <= 2) return true;
  if (to - from > state.scanBudget) return true;
  state.scanBudget -= to - from;
  const uint8_t* const bytes = m_bytes.data() + key.bytes;
  const bool anyChar = (key.flags & IndexedKey::kAnyChar) != 0;
  size_t at = from;
  for (uint32_t i = 1; i + 1 < pieces.count; ++i) {
    const size_t n = pieces.Length(i);
    const uint32_t offset = pieces.Offset(i);
    // Only where the piece's first byte is, unless it is a '?'.
    const bool anyFirst = anyChar && TestReverseBit(bytes, offset);
    for (;; ++at) {
      if (at + n > to) return false;
      if (!anyFirst) at = FindByte(text, at, to - n + 1, bytes[offset]);
      if (at + n > to) return false;
      if (PieceMatches(key, offset, n, text + at)) break;
    }
    at += n;
  }
  return true;
}

// Sums up the hits of each key so far in one.
void LiteralIndex::Trim(ProbeState& state) const {
  std::vector<KeyHit>& hits = state.scratch->hits;
  SortHits(hits);
  size_t kept = 0;
  for (size_t i = 0; i < hits.size();) {
    size_t end = i + 1;
    while (end < hits.size() && hits[end].SameKey(hits[i])) ++end;
    const KeyHit first = hits[i];
    const int32_t routes =
        Routes(std::span<const KeyHit>(hits).subspan(i, end - i), *state.text, state.routeCap, *state.scratch);
    if (routes > 0) hits[kept++] = KeyHit{first.key, first.atStart, routes, 0};
    i = end;
  }
  hits.resize(kept);
  state.trimAt = std::max(kTrimAt, 2 * kept);
}

int32_t LiteralIndex::Routes(std::span<const KeyHit> hits, const PreparedText& text, int32_t cap,
                             IndexScratch& scratch) const {
  int32_t routes = 0;
  bool deferred = false;
  for (const KeyHit& hit : hits) {
    if (hit.routes == KeyHit::kDeferred) {
      deferred = true;
    } else {
      routes = std::min(cap, routes + hit.routes);
    }
  }
  if (!deferred || routes == cap) return routes;
  const uint32_t k = hits.front().key;
  const std::string_view within = (m_keys[k].flags & IndexedKey::kWhole) != 0 ? text.Whole() : text.Host();
  return std::min(cap, routes + DeferredRoutes(k, within, hits, cap, scratch));
}

// Each anchor's routes are those of its head times those of its tail; the
// middle pieces of each are counted in one pass for all anchors.
int32_t LiteralIndex::DeferredRoutes(uint32_t k, std::string_view text, std::span<const KeyHit> hits, int32_t cap,
                                     IndexScratch& scratch) const {
  const IndexedKey& key = m_keys[k];
  const PiecedKey pieced = ReadPiecedKey(m_bytes.data() + key.bytes, key.literalLength);
  const Pieces& head = pieced.head;
  const Pieces& tail = pieced.tail;
  // Head routes by where its last piece starts, tail routes by where the
  // piece after its first starts.
  const size_t headFrom = head.Length(0);
  const size_t tailTo = text.size() - tail.Last();
  size_t headTo = headFrom;
  size_t tailFrom = tailTo;
  for (const KeyHit& hit : hits) {
    if (hit.routes != KeyHit::kDeferred) continue;
    headTo = std::max<size_t>(headTo, hit.anchor - head.Last());
    tailFrom = std::min<size_t>(tailFrom, hit.anchor + key.literalLength + tail.Length(0));
  }
  auto count = [&](const Pieces& pieces, bool forward, size_t edge, size_t width, std::vector<int32_t>& rows) {
    return CountPlacements(
        1, pieces.count - 1, [&](uint32_t i) { return pieces.Length(i); },
        [&](uint32_t i, size_t at) { return PieceMatches(key, pieces.Offset(i), pieces.Length(i), text.data() + at); },
        forward, edge, width, cap, rows);
  };
  std::span<const int32_t> headRoutes;
  std::span<const int32_t> tailRoutes;
  if (head.count > 2) headRoutes = count(head, true, headFrom, headTo - headFrom, scratch.headRows);
  if (tail.count > 2) tailRoutes = count(tail, false, tailTo, tailTo - tailFrom, scratch.tailRows);
  int32_t routes = 0;
  for (const KeyHit& hit : hits) {
    if (hit.routes != KeyHit::kDeferred) continue;
    const int32_t before = headRoutes.empty() ? 1 : headRoutes[hit.anchor - head.Last() - headFrom];
    const int32_t after =
        tailRoutes.empty() ? 1 : tailRoutes[tailTo - (hit.anchor + key.literalLength + tail.Length(0))];
    routes = std::min(cap, routes + before * after);
  }
  return routes;
}

}  // namespace mask_engine
