// string.find, match, gmatch and gsub as Lua 5.2's string library has them,
// with every step of a search charged to the running script's instruction
// allowance, so that no single search can outlast it.
#pragma once

struct lua_State;

namespace dnt {

int CountedFind(lua_State* L);
int CountedMatch(lua_State* L);
int CountedGmatch(lua_State* L);
int CountedGsub(lua_State* L);

}  // namespace dnt
