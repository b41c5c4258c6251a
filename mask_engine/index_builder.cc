#include "mask_engine/index_builder.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "mask_engine/mask_symbols.h"

namespace mask_engine {

namespace {

constexpr uint8_t kAnchorFlags = IndexedKey::kAtDot | IndexedKey::kAtStart;

bool IsDotHead(std::span<const uint32_t> head) {
  return head.size() == 2 && head[0] == kAnyRunSymbol && head[1] == '.';
}

// A simple tail's pieces, with at most one any-run.
void SetSimpleTail(std::span<const uint32_t> tail, IndexedKey& record) {
  const auto run = std::find(tail.begin(), tail.end(), kAnyRunSymbol);
  record.firstPiece = static_cast<uint8_t>(run - tail.begin());
  record.runs = run != tail.end();
  record.lastPiece = static_cast<uint8_t>(run != tail.end() ? tail.end() - run - 1 : 0);
}

bool SameButAnchors(const IndexedKey& a, const IndexedKey& b) {
  return a.tag == b.tag && a.bytes == b.bytes && a.literalLength == b.literalLength &&
         a.firstPiece == b.firstPiece && a.lastPiece == b.lastPiece && a.runs == b.runs &&
         (a.flags & ~kAnchorFlags) == (b.flags & ~kAnchorFlags);
}

}  // namespace

// Comparisons read up to eight bytes before a literal.
IndexBuilder::IndexBuilder() : m_bytes(LiteralHash::kPadding, 0) {}

// Room for a block of `size` bytes, after its '?' bitmap if it needs one.
IndexBuilder::Block IndexBuilder::Reserve(size_t size, bool anyChar) {
  const size_t bitmap = anyChar ? (size + 7) / 8 : 0;
  if (m_bytes.size() + bitmap + size > UINT32_MAX) throw std::length_error("mask index too large");
  m_bytes.resize(m_bytes.size() + bitmap + size, 0);
  return Block{static_cast<uint32_t>(m_bytes.size() - size), anyChar};
}

void IndexBuilder::MarkAnyChar(const Block& block, size_t i) {
  m_bytes[block.offset - 1 - i / 8] |= static_cast<uint8_t>(1u << (i % 8));
}

// The symbols from the literal to the end of the key, any-runs left out:
// every simple variant's bytes are a prefix of them. Written at once for
// the common key without '?'.
IndexBuilder::Block IndexBuilder::SimpleBlock(std::span<const uint32_t> fromLiteral) {
  const size_t start = m_bytes.size();
  m_bytes.resize(start + fromLiteral.size());
  uint8_t* out = m_bytes.data() + start;
  for (const uint32_t symbol : fromLiteral) {
    if (symbol == kAnyCharSymbol) {
      m_bytes.resize(start);
      return SimpleBlockWithAnyChar(fromLiteral);
    }
    *out = static_cast<uint8_t>(symbol & 0xFF);
    out += symbol != kAnyRunSymbol;
  }
  m_bytes.resize(static_cast<size_t>(out - m_bytes.data()));
  if (m_bytes.size() > UINT32_MAX) throw std::length_error("mask index too large");
  return Block{static_cast<uint32_t>(start), false};
}

IndexBuilder::Block IndexBuilder::SimpleBlockWithAnyChar(std::span<const uint32_t> fromLiteral) {
  const auto runs = static_cast<size_t>(std::count(fromLiteral.begin(), fromLiteral.end(), kAnyRunSymbol));
  const Block block = Reserve(fromLiteral.size() - runs, true);
  size_t i = 0;
  for (const uint32_t symbol : fromLiteral) {
    if (symbol == kAnyRunSymbol) continue;
    if (symbol == kAnyCharSymbol) MarkAnyChar(block, i);
    m_bytes[block.offset + i++] = static_cast<uint8_t>(symbol & 0xFF);
  }
  return block;
}

IndexBuilder::Block IndexBuilder::PiecedBlock(std::span<const uint32_t> literal, std::span<const uint32_t> head,
                                              std::span<const uint32_t> tail) {
  m_block.assign(literal.begin(), literal.end());
  m_anyChars.assign(m_block.size(), 0);
  WritePieces(head, tail, m_block, m_anyChars);
  const Block block = Reserve(m_block.size(), std::find(m_anyChars.begin(), m_anyChars.end(), 1) != m_anyChars.end());
  std::copy(m_block.begin(), m_block.end(), m_bytes.begin() + block.offset);
  for (size_t i = 0; i < m_anyChars.size(); ++i) {
    if (m_anyChars[i] != 0) MarkAnyChar(block, i);
  }
  return block;
}

// The 'name.tld' variant of a '*.name.tld' key joins its record.
void IndexBuilder::AddRecord(const IndexedKey& record, size_t firstOfKey) {
  for (size_t i = firstOfKey; i < m_records.size(); ++i) {
    if (SameButAnchors(m_records[i], record)) {
      m_records[i].flags |= record.flags & kAnchorFlags;
      return;
    }
  }
  m_records.push_back(record);
}

void IndexBuilder::Add(const GeneratedKey& key, const IndexShape& shape, uint32_t tag, bool whole) {
  const std::span<const uint32_t> symbols = key.symbols;
  const std::span<const uint32_t> literal =
      symbols.subspan(shape.literalBegin, shape.literalEnd - shape.literalBegin);
  const KeyVariants variants = VariantsOf(symbols.size(), key.head, key.tail);
  const size_t firstOfKey = m_records.size();
  std::optional<Block> simple;
  m_seen.SetKey(symbols);
  for (int v = 0; v < variants.count; ++v) {
    const KeyVariant& range = variants.ranges[v];
    if (!m_seen.Insert(range.begin, range.end)) continue;
    const auto head = symbols.subspan(range.begin, shape.literalBegin - range.begin);
    const auto tail = symbols.subspan(shape.literalEnd, range.end - shape.literalEnd);
    IndexedKey record{};
    record.tag = tag;
    record.literalLength = static_cast<uint8_t>(literal.size());
    record.flags = static_cast<uint8_t>((whole ? IndexedKey::kWhole : 0) | (tail.empty() ? IndexedKey::kEndsText : 0) |
                                        (head.empty() ? IndexedKey::kAtStart : IndexedKey::kAtDot));
    if ((head.empty() || IsDotHead(head)) && std::count(tail.begin(), tail.end(), kAnyRunSymbol) <= 1) {
      if (!simple) simple = SimpleBlock(symbols.subspan(shape.literalBegin));
      record.bytes = simple->offset;
      if (simple->anyChar) record.flags |= IndexedKey::kAnyChar;
      SetSimpleTail(tail, record);
      AddRecord(record, firstOfKey);
      continue;
    }
    const Block block = PiecedBlock(literal, head, tail);
    record.bytes = block.offset;
    record.flags |= IndexedKey::kPieced | (block.anyChar ? IndexedKey::kAnyChar : 0);
    m_records.push_back(record);
  }
}

}  // namespace mask_engine
