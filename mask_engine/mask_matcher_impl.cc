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
  m_automaton.Report([&](uint32_t tag, int32_t count) {
    if (tag >= flags.size() || flags[tag] != domainFlag) return;
    const uint64_t begin = m_view.offsets[tag];
    const auto length = static_cast<uint32_t>(m_view.offsets[tag + 1] - begin);
    m_result.insert(m_result.end(), static_cast<size_t>(count), MaskMatch{m_view.texts + begin, length, tag});
  });
}

const std::vector<MaskMatch>& MaskMatcherImpl::Match(const char* text, uint32_t length) {
  m_result.clear();
  if (m_view.root == nullptr) return m_result;
  // Starting from a fresh automaton also recovers from a call that threw
  // (out of memory) mid-step.
  m_automaton.Reset();
  m_text.Build(text, length);
  // Plain host masks match where the host ends, whatever follows; every
  // other mask must reach the end of the whole text.
  FeedAll(m_text.Host());
  ReportWhere(true);
  FeedAll(m_text.Rest());
  ReportWhere(false);
  return m_result;
}

}  // namespace mask_engine
