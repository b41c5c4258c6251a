// The counted pattern functions against Lua's own: for any subject, pattern
// and replacement, find, match, gmatch and gsub must give the same results,
// or fail with the same message. A search that runs out of its allowance is
// what the counting is for; the library's own function is not run on it.
// And the cost side: whatever the matcher did, counted loop by loop, it
// charged at least a fixed share of it to the allowance.
// Input: a first byte choosing the function and the start position, then
// subject, pattern and replacement, separated by '\n'.
#include <lua.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "source/scripting/counted_patterns.h"
#include "source/scripting/state_limits.h"

namespace {

constexpr const char* TooLong = "the search runs too long";
// A step may read this many bytes (a class entry, a compared byte each);
// the slack covers the fixed work of a call.
constexpr std::size_t WorkPerStep = 2 * dnt::StateLimits::BytesPerStep;
constexpr std::size_t WorkSlack = 64;

// Calls `f` as the chosen function and renders its results (every match, for
// gmatch) as one text.
constexpr const char* Driver = R"(
local f, kind, init, s, p, r = ...
local out = {}
local function add(...) for i = 1, select('#', ...) do out[#out + 1] = tostring((select(i, ...))) end end
if kind == 0 then add(f(s, p, init)) elseif kind == 1 then add(f(s, p, init, true))
elseif kind == 2 then add(f(s, p, init)) elseif kind == 3 then add(f(s, p, r))
else for a, b in f(s, p) do add(a, b) end end
return table.concat(out, '\0'))";

constexpr lua_CFunction Counted[] = {dnt::CountedFind, dnt::CountedFind, dnt::CountedMatch, dnt::CountedGsub,
                                     dnt::CountedGmatch};
constexpr const char* Stock[] = {"find", "find", "match", "gsub", "gmatch"};

std::string_view Next(std::string_view& rest) {
  const std::size_t end = std::min(rest.find('\n'), rest.size());
  const std::string_view part = rest.substr(0, end);
  rest.remove_prefix(std::min(end + 1, rest.size()));
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int kind = data[0] % 5;
  const int init = data[0] / 5 % 9 - 4;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string_view subject = Next(rest), pattern = Next(rest), replacement = rest;

  dnt::StateLimits limits(std::size_t{64} << 20, 2'000'000, TooLong);
  lua_State* L = limits.NewState();
  if (!L) return 0;
  luaL_openlibs(L);
  std::string results[2];
  for (int run = 0; run < 2; ++run) {
    limits.Restart(L);
    if (luaL_loadstring(L, Driver) != LUA_OK) std::abort();
    if (run == 0) {
      lua_pushcfunction(L, Counted[kind]);
    } else {
      lua_getglobal(L, "string");
      lua_getfield(L, -1, Stock[kind]);
      lua_remove(L, -2);
    }
    dnt::ThreadPatternWork() = {};
    lua_pushinteger(L, kind);
    lua_pushinteger(L, init);
    for (std::string_view text : {subject, pattern, replacement}) lua_pushlstring(L, text.data(), text.size());
    lua_pcall(L, 6, 1, 0);
    std::size_t length = 0;
    const char* text = lua_tolstring(L, -1, &length);
    results[run] = text ? std::string(text, length) : "(no text)";
    if (run == 0) {
      const dnt::PatternWork work = dnt::ThreadPatternWork();
      if (work.done > WorkSlack + WorkPerStep * work.charged) std::abort();
    }
    lua_settop(L, 0);
    lua_gc(L, LUA_GCCOLLECT, 0);
    // Out of allowance or memory: nothing to compare.
    if (results[run].find(TooLong) != std::string::npos || results[run].find("not enough memory") != std::string::npos) {
      lua_close(L);
      return 0;
    }
  }
  lua_close(L);
  if (results[0] != results[1]) std::abort();
  return 0;
}
