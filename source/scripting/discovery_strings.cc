#include "source/scripting/discovery_strings.h"

#include <lua.hpp>

#include <array>
#include <cctype>
#include <cmath>
#include <iterator>
#include <string_view>
#include <utility>

#include "source/scripting/state_limits.h"

namespace dnt {
namespace {

// An argument as the string library reads it (a number as its text); empty
// for other types, which the function itself then refuses.
std::string_view StringArgument(lua_State* L, int index) {
  const int type = lua_type(L, index);
  if (type != LUA_TSTRING && type != LUA_TNUMBER) return {};
  std::size_t length = 0;
  const char* text = lua_tolstring(L, index, &length);
  return {text, length};
}

// Items that let the matcher try more than one end position: quantifiers,
// balances (%b) and back-references. Counted generously (a '-' in a set, an
// escaped '*'): a count too high only charges more.
double BranchingItems(std::string_view pattern) {
  double items = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (c == '*' || c == '+' || c == '-' || c == '?' ||
        (c == '%' && (next == 'b' || std::isdigit(static_cast<unsigned char>(next))))) {
      ++items;
    }
  }
  return items;
}

// The most steps of one search, all matches of a gmatch or gsub included
// (each start position is tried once): a path through the matcher picks a
// start and a non-decreasing end position for every branching item among
// the subject's positions, C(n + k + 1, k + 1) ways, and each path may look
// at the whole pattern and copy the replacement once.
double SearchWork(std::string_view subject, std::string_view pattern, std::size_t replacementLength) {
  const double n = static_cast<double>(subject.size());
  const double k = BranchingItems(pattern);
  const double paths = std::exp(std::lgamma(n + k + 2) - std::lgamma(k + 2) - std::lgamma(n + 1));
  return paths * static_cast<double>(pattern.size() + replacementLength + 1);
}

double FindWork(lua_State* L) { return SearchWork(StringArgument(L, 1), StringArgument(L, 2), 0); }

double GsubWork(lua_State* L) {
  return SearchWork(StringArgument(L, 1), StringArgument(L, 2), StringArgument(L, 3).size());
}

// string.rep loops `count` times, copying the string and the separator.
double RepWork(lua_State* L) {
  const int count = static_cast<int>(lua_tointeger(L, 2));  // as luaL_checkint reads it
  if (count <= 0) return 0;
  return count * (1.0 + static_cast<double>(StringArgument(L, 1).size() + StringArgument(L, 3).size()));
}

struct Guarded {
  const char* name;
  double (*work)(lua_State* L);
};
constexpr Guarded GuardedFunctions[] = {
    {"find", &FindWork}, {"match", &FindWork}, {"gmatch", &FindWork}, {"gsub", &GsubWork}, {"rep", &RepWork},
};
constexpr std::size_t GuardedCount = std::size(GuardedFunctions);
using Originals = std::array<lua_CFunction, GuardedCount>;

// The library's own functions, read from the first state guarded: the
// string library is linked once, so they are the same in every state.
const Originals& StandardFunctions(lua_State* firstState) {
  static const Originals originals = [firstState] {
    Originals functions{};
    luaL_getsubtable(firstState, LUA_REGISTRYINDEX, "_LOADED");
    lua_getfield(firstState, -1, LUA_STRLIBNAME);
    for (std::size_t i = 0; i < GuardedCount; ++i) {
      lua_getfield(firstState, -1, GuardedFunctions[i].name);
      functions[i] = lua_tocfunction(firstState, -1);
      lua_pop(firstState, 1);
    }
    lua_pop(firstState, 2);
    return functions;
  }();
  return originals;
}

// The original runs inside this function's own frame, so it never becomes a
// Lua value a script could call unguarded: not an upvalue (debug.getupvalue)
// and not a running function (debug.getinfo from a gsub callback).
template <std::size_t Index>
int ChargedCall(lua_State* L) {
  StateLimits::Charge(L, GuardedFunctions[Index].work(L));
  return StandardFunctions(L)[Index](L);
}

template <std::size_t... Index>
void SetChargedFunctions(lua_State* L, std::index_sequence<Index...>) {
  ((lua_pushcfunction(L, &ChargedCall<Index>), lua_setfield(L, -2, GuardedFunctions[Index].name)), ...);
}

}  // namespace

void GuardDiscoveryStrings(lua_State* L) {
  StandardFunctions(L);
  // The loaded module is the table that the globals and the strings'
  // metatable share.
  luaL_getsubtable(L, LUA_REGISTRYINDEX, "_LOADED");
  lua_getfield(L, -1, LUA_STRLIBNAME);
  SetChargedFunctions(L, std::make_index_sequence<GuardedCount>());
  lua_pop(L, 2);
}

}  // namespace dnt
