#include "mask_engine/mask_matcher_impl.h"

#include "mask_engine/match_scratch_state.h"

namespace mask_engine {

MaskMatcher::~MaskMatcher() = default;

MaskMatcherImpl::MaskMatcherImpl(std::shared_ptr<const MaskEngine> engine, bool live)
    : m_engine(std::move(engine)), m_live(live) {}

const std::vector<MaskMatch>& MaskMatcherImpl::Match(const char* text, uint32_t length) {
  if (!m_live) return m_none;
  return m_engine->Match(text, length, m_scratch);
}

size_t MaskMatcherImpl::PoolCapacity() { return m_scratch.Get().automaton.PoolCapacity(); }

}  // namespace mask_engine
