// table.insert, remove, concat, unpack and maxn as Lua 5.2's table library
// has them, with the elements each one handles charged to the running
// script's allowance.
#pragma once

struct lua_State;

namespace dnt {

int CountedInsert(lua_State* L);
int CountedRemove(lua_State* L);
int CountedConcat(lua_State* L);
int CountedUnpack(lua_State* L);
int CountedMaxn(lua_State* L);

}  // namespace dnt
