#include "mask_engine/prepared_text.h"

#include <stdexcept>

namespace mask_engine {

namespace {

// Buffers grown past this by one huge text are given back before the next.
constexpr size_t kKeepBytes = 64 * 1024;

}  // namespace

void PreparedText::Prepare(const char* text, uint32_t length) {
  if (m_prepared && m_canonical.Holds(text, length)) return;
  if (length <= kKeepBytes && m_canonical.HoldsMoreThan(kKeepBytes)) ReleaseBuffers();
  m_prepared = false;
  m_canonical.Build(text, length);
  if (Whole().size() >= UINT32_MAX) throw std::length_error("the canonical text is too long");

  const std::span<const uint32_t> separators = m_canonical.Separators();
  m_hostSeparators = m_canonical.HostSeparators();
  m_wholeLiterals.CollectLiterals(Whole(), separators);
  const std::string_view rest = Rest();
  m_hostIsFirstSegment = !m_canonical.HostHasSlash() && (rest.empty() || rest[0] == '/');
  if (m_hostIsFirstSegment) {
    m_hostLiterals = m_wholeLiterals.FirstSegment();
  } else {
    m_ownHostLiterals.CollectLiterals(Host(), m_hostSeparators);
    m_hostLiterals = m_ownHostLiterals.Anchors();
  }
  m_prepared = true;
}

void PreparedText::ReleaseBuffers() {
  m_canonical = CanonicalText();
  m_wholeLiterals = AnchorList();
  m_ownHostLiterals = AnchorList();
  m_hostLiterals = {};
  m_hostSeparators = {};
}

}  // namespace mask_engine
