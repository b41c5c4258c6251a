#include "mask_engine/text_anchors.h"

namespace mask_engine {

namespace {

void Emit(TextAnchor*& out, uint64_t hash, size_t begin, size_t end, AnchorKind kind) {
  *out++ = TextAnchor{AnchorKey(hash, kind), static_cast<uint32_t>(begin), static_cast<uint32_t>(end), kind};
}

}  // namespace

TextAnchor* AnchorList::Reserve(size_t count) {
  if (m_anchors.size() < count) m_anchors.resize(count);
  return m_anchors.data();
}

// Only the bytes from each segment's end back to its first '.' are hashed,
// and the whole first segment.
void AnchorList::CollectLiterals(std::string_view text, std::span<const size_t> separators) {
  TextAnchor* out = Reserve(separators.size() + 1);
  m_firstSegment = 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  size_t segmentEnd = text.size();
  size_t hashedFrom = text.size();
  uint64_t hash = 0;
  auto extendTo = [&](size_t from) {
    while (hashedFrom > from) hash = LiteralHash::AppendFront(hash, bytes[--hashedFrom]);
  };
  for (size_t i = separators.size(); i-- > 0;) {
    const size_t pos = separators[i];
    if (bytes[pos] == '/') {
      segmentEnd = hashedFrom = pos;
      hash = 0;
      m_firstSegment = static_cast<size_t>(out - m_anchors.data());
      continue;
    }
    extendTo(pos + 1);
    Emit(out, hash, pos + 1, segmentEnd, AnchorKind::kDot);
  }
  extendTo(0);
  Emit(out, hash, 0, segmentEnd, AnchorKind::kStart);
  m_size = static_cast<size_t>(out - m_anchors.data());
}

void CollectTrigrams(std::string_view text, std::vector<uint16_t>& out) {
  out.clear();
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t i = 0; i + 3 <= text.size(); ++i) out.push_back(TrigramHash(bytes[i], bytes[i + 1], bytes[i + 2]));
}

}  // namespace mask_engine
