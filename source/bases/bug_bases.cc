#include "do_not_track/dnt_engine/bug_bases.h"

#include <stdexcept>

namespace dnt {

BugBases::BugBases(orv::ComPtr<orv::ITracer> tracer)
    : m_tracer(tracer),
      m_rules(tracer, false),
      m_exceptions(tracer, true),
      m_partnerSites(tracer),
      m_incompatibleSites(tracer) {}

uint32_t BugBases::ServiceIndexOfBug(size_t bugIndex) const {
  if (bugIndex >= m_bugs.size()) throw std::out_of_range("the bug index is out of range");
  return m_bugs[bugIndex];
}

size_t BugBases::MemoryBytes() const noexcept {
  size_t bytes = sizeof(*this) + m_services.MemoryBytes() + m_bugs.capacity() * sizeof(uint32_t);
  bytes += m_rules.MemoryBytes() + m_exceptions.MemoryBytes();
  bytes += m_partnerSites.Bytes().capacity() + m_incompatibleSites.Bytes().capacity();
  if (m_httpsDomains) bytes += m_httpsDomains->Stats().layoutBytes;
  return bytes;
}

}  // namespace dnt
