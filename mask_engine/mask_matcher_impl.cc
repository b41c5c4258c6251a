#include "mask_engine/mask_matcher_impl.h"

namespace mask_engine {

MaskMatcher::~MaskMatcher() = default;

MaskMatcherImpl::MaskMatcherImpl(std::shared_ptr<const MaskEngine> engine, EngineView view)
    : m_engine(std::move(engine)), m_view(view), m_automaton(view.root) {}

void MaskMatcherImpl::FeedAll(std::string_view bytes) {
  for (char c : bytes) {
    if (m_automaton.Dead()) return;
    m_automaton.Feed(static_cast<uint8_t>(c));
  }
}

void MaskMatcherImpl::ReportWhere(bool domainFlag) {
  const std::vector<bool>& flags = *m_view.domainFlags;
  m_automaton.Report(
      [&](uint32_t tag) { return tag < flags.size() && flags[tag] == domainFlag; }, m_ids);
}

const std::vector<MaskMatch>& MaskMatcherImpl::Match(const char* text, uint32_t length) {
  m_result.clear();
  m_ids.clear();
  if (m_view.root == nullptr) return m_result;

  try {
    m_text.Build(text, length);
    // Plain host masks match where the host ends, whatever follows; every
    // other mask must reach the end of the whole text.
    FeedAll(m_text.Host());
    ReportWhere(true);
    FeedAll(m_text.Rest());
    ReportWhere(false);
  } catch (...) {
    // Out of memory mid-step: leave the matcher usable for the next call.
    m_automaton.Reset();
    throw;
  }
  m_automaton.Reset();

  m_result.reserve(m_ids.size());
  for (uint32_t id : m_ids) {
    const uint64_t begin = m_view.offsets[id];
    const uint64_t end = m_view.offsets[id + 1];
    m_result.push_back(MaskMatch{m_view.texts + begin, static_cast<uint32_t>(end - begin), id});
  }
  return m_result;
}

}  // namespace mask_engine
