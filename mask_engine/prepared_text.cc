#include "mask_engine/prepared_text.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace mask_engine {

namespace {

// Buffers grown past this by one huge text are given back before the next.
constexpr size_t kKeepBytes = 64 * 1024;

}  // namespace

void PreparedText::Prepare(const char* text, uint32_t length) {
  if (m_prepared && length == m_raw.size() && (length == 0 || std::memcmp(text, m_raw.data(), length) == 0)) return;
  if (m_raw.capacity() > kKeepBytes && length <= kKeepBytes) ReleaseBuffers();
  m_prepared = false;
  if (length == 0) {
    m_raw.clear();
  } else {
    m_raw.assign(text, length);
  }
  // The canonical text may point into the copy, which lives as long.
  m_canonical.Build(m_raw.data(), length);
  if (Whole().size() >= UINT32_MAX) throw std::length_error("the canonical text is too long");

  const std::string_view host = Host();
  const std::string_view rest = Rest();
  const std::span<const size_t> separators = m_canonical.Separators();
  const auto inHost = std::lower_bound(separators.begin(), separators.end(), host.size());
  m_hostSeparators = separators.first(static_cast<size_t>(inHost - separators.begin()));
  m_wholeLiterals.CollectLiterals(Whole(), separators);
  m_hostIsFirstSegment = host.find('/') == std::string_view::npos && (rest.empty() || rest[0] == '/');
  if (m_hostIsFirstSegment) {
    // The first segment's anchors come last.
    const std::span<const TextAnchor> whole = m_wholeLiterals.Anchors();
    size_t first = whole.size();
    while (first > 0 && whole[first - 1].end <= host.size()) --first;
    m_hostLiterals = whole.subspan(first);
  } else {
    m_ownHostLiterals.CollectLiterals(host, m_hostSeparators);
    m_hostLiterals = m_ownHostLiterals.Anchors();
  }
  m_haveTrigrams = false;
  m_prepared = true;
}

void PreparedText::ReleaseBuffers() {
  m_raw = std::string();
  m_canonical = CanonicalText();
  m_wholeLiterals = AnchorList();
  m_ownHostLiterals = AnchorList();
  m_hostLiterals = {};
  m_hostSeparators = {};
  m_trigrams = std::vector<uint16_t>();
}

std::span<const uint16_t> PreparedText::Trigrams() {
  if (!m_haveTrigrams) {
    CollectTrigrams(Whole(), m_trigrams);
    m_haveTrigrams = true;
  }
  return m_trigrams;
}

}  // namespace mask_engine
