#include "mask_engine/text_anchors.h"

namespace mask_engine {

namespace {

inline void Emit(TextAnchor*& out, const uint8_t* text, size_t begin, size_t end, AnchorKind kind) {
  const uint64_t key = AnchorKey(LiteralHash::OfPadded(text + begin, end - begin), kind);
  *out++ = TextAnchor{key, AnchorFilterBits(key), static_cast<uint32_t>(begin), static_cast<uint32_t>(end), kind};
}

}  // namespace

TextAnchor* AnchorList::Reserve(size_t count) {
  if (m_anchors.size() < count) m_anchors.resize(count);
  return m_anchors.data();
}

void AnchorList::CollectLiterals(std::string_view text, std::span<const uint32_t> separators) {
  TextAnchor* out = Reserve(separators.size() + 1);
  m_firstSegment = 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  size_t segmentEnd = text.size();
  for (size_t i = separators.size(); i-- > 0;) {
    const size_t pos = separators[i];
    if (bytes[pos] == '/') {
      segmentEnd = pos;
      m_firstSegment = static_cast<size_t>(out - m_anchors.data());
      continue;
    }
    Emit(out, bytes, pos + 1, segmentEnd, AnchorKind::kDot);
  }
  Emit(out, bytes, 0, segmentEnd, AnchorKind::kStart);
  m_size = static_cast<size_t>(out - m_anchors.data());
}

}  // namespace mask_engine
