// MaskMatcher: an engine and a scratch of its own.
#pragma once

#include <memory>
#include <vector>

#include "mask_engine/mask_engine.h"

namespace mask_engine {

class MaskMatcherImpl final : public MaskMatcher {
 public:
  /// `live`: the engine was finalized when the matcher was made; a matcher
  /// made earlier matches nothing.
  MaskMatcherImpl(std::shared_ptr<const MaskEngine> engine, bool live);

  const std::vector<MaskMatch>& Match(const char* text, uint32_t length) override;

  /// Cursors the automaton has grown to.
  size_t PoolCapacity();

 private:
  std::shared_ptr<const MaskEngine> m_engine;
  bool m_live;
  MatchScratch m_scratch;
  std::vector<MaskMatch> m_none;
};

}  // namespace mask_engine
