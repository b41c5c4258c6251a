// string.find, match, gmatch and gsub as Lua 5.2's string library has them,
// with every step of a search charged to the running script's instruction
// allowance, so that no single search can outlast it.
#pragma once

#include <cstddef>

struct lua_State;

namespace dnt {

int CountedFind(lua_State* L);
int CountedMatch(lua_State* L);
int CountedGmatch(lua_State* L);
int CountedGsub(lua_State* L);

#ifdef DNT_PATTERN_WORK_PROBE
/// Fuzz builds only: what the matcher did on this thread, counted loop by
/// loop (bytes scanned and compared, class entries read, steps taken), and
/// the steps it charged for it, batches not yet charged included.
struct PatternWork {
  std::size_t done = 0;
  std::size_t charged = 0;
};
PatternWork& ThreadPatternWork() noexcept;
#endif

}  // namespace dnt
