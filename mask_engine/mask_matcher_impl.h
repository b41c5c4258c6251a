// MaskMatcher over a finalized engine: canonical text, then the automaton
// with a check point where the host ends and one at the end of the text.
#pragma once

#include <memory>
#include <vector>

#include "mask_engine/canonical_text.h"
#include "mask_engine/cursor_automaton.h"
#include "mask_engine/mask_engine.h"

namespace mask_engine {

/// What a matcher reads from its engine; the engine owns all of it.
struct EngineView {
  const uint8_t* root = nullptr;  // nullptr: nothing can match
  const char* texts = nullptr;
  const uint64_t* offsets = nullptr;
  const std::vector<bool>* domainFlags = nullptr;
};

class MaskMatcherImpl final : public MaskMatcher {
 public:
  MaskMatcherImpl(std::shared_ptr<const MaskEngine> engine, EngineView view);

  const std::vector<MaskMatch>& Match(const char* text, uint32_t length) override;

  size_t PoolCapacity() const { return m_automaton.PoolCapacity(); }

 private:
  void FeedAll(std::string_view bytes);
  void ReportWhere(bool domainFlag);

  std::shared_ptr<const MaskEngine> m_engine;  // keeps the view alive
  EngineView m_view;
  CursorAutomaton m_automaton;
  CanonicalText m_text;
  std::vector<MaskMatch> m_result;
};

}  // namespace mask_engine
