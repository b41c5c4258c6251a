#include "source/scripting/bounded_strings.h"

#include <lua.hpp>

#include <string_view>

#include "source/scripting/counted_patterns.h"
#include "source/scripting/state_limits.h"

namespace dnt {
namespace {

// An argument as the string library reads it (a number as its text); empty
// for other types, which the function itself then refuses.
std::size_t StringLength(lua_State* L, int index) {
  const int type = lua_type(L, index);
  if (type != LUA_TSTRING && type != LUA_TNUMBER) return 0;
  std::size_t length = 0;
  lua_tolstring(L, index, &length);
  return length;
}

// The library's own string.rep, read from the first state bounded: the
// string library is linked once, so it is the same in every state.
lua_CFunction StandardRep(lua_State* firstState) {
  static const lua_CFunction rep = [firstState] {
    luaL_getsubtable(firstState, LUA_REGISTRYINDEX, "_LOADED");
    lua_getfield(firstState, -1, LUA_STRLIBNAME);
    lua_getfield(firstState, -1, "rep");
    const lua_CFunction function = lua_tocfunction(firstState, -1);
    lua_pop(firstState, 3);
    return function;
  }();
  return rep;
}

// string.rep loops `count` times, copying the string and the separator: the
// work is known before it starts. The original runs inside this function's
// own frame, so it never becomes a Lua value a script could call unbounded.
int ChargedRep(lua_State* L) {
  const int count = static_cast<int>(lua_tointeger(L, 2));  // as luaL_checkint reads it
  if (count > 0) {
    StateLimits::Charge(L, count * (1.0 + static_cast<double>(StringLength(L, 1) + StringLength(L, 3))));
  }
  return StandardRep(L)(L);
}

constexpr luaL_Reg BoundFunctions[] = {
    {"find", &CountedFind}, {"match", &CountedMatch}, {"gmatch", &CountedGmatch},
    {"gsub", &CountedGsub}, {"rep", &ChargedRep},     {nullptr, nullptr},
};

}  // namespace

void BoundStringFunctions(lua_State* L) {
  StandardRep(L);
  // The loaded module is the table that the globals and the strings'
  // metatable share.
  luaL_getsubtable(L, LUA_REGISTRYINDEX, "_LOADED");
  lua_getfield(L, -1, LUA_STRLIBNAME);
  luaL_setfuncs(L, BoundFunctions, 0);
  lua_pop(L, 2);
}

}  // namespace dnt
