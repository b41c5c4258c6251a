// What a MatchScratch holds.
#pragma once

#include <vector>

#include "mask_engine/cursor_automaton.h"
#include "mask_engine/literal_index.h"
#include "mask_engine/mask_engine.h"
#include "mask_engine/prepared_text.h"

namespace mask_engine {

struct MatchScratch::State {
  PreparedText text;
  IndexScratch index;
  std::vector<uint32_t> ids;
  CursorAutomaton automaton;
  std::vector<MaskMatch> result;
};

}  // namespace mask_engine
