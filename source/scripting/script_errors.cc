#include "source/scripting/script_errors.h"

#include <lua.hpp>

#include <cstdlib>
#include <stdexcept>

#include "do_not_track/dnt_engine/script_host.h"

namespace dnt {

const char* ScriptStatusName(int status) noexcept {
  switch (status) {
    case LUA_OK:
      return "ok";
    case LUA_ERRSYNTAX:
      return "syntax error";
    case LUA_ERRMEM:
      return "memory allocation error";
    default:
      return "runtime error";
  }
}

std::string DescribeScriptFailure(lua_State* L, const char* prefix, int status) {
  std::string text = prefix;
  text += status == LUA_OK ? "enigmatic mystery" : ScriptStatusName(status);
  // Converting a number may allocate: only strings and numbers are asked,
  // and never after a memory error.
  if (status != LUA_ERRMEM && lua_gettop(L) > 0 && lua_isstring(L, -1)) {
    std::size_t length = 0;
    if (const char* detail = lua_tolstring(L, -1, &length)) {
      text += ": ";
      text.append(detail, length);
    }
  }
  return text;
}

int ScriptPanicHandler(lua_State* L) {
  // No protected call is active: the only way back to the host's code is a
  // C++ exception (the C++ build of Lua unwinds its own frames cleanly).
  throw std::runtime_error(DescribeScriptFailure(L, "fatal script error: ", lua_status(L)));
}

void RaiseScriptError(lua_State* L, const char* text) {
  lua_pushstring(L, text);
  lua_error(L);
  std::abort();  // lua_error does not return
}

void RaiseScriptError(lua_State* L, const char* head, const char* middle, std::size_t middleLength,
                      const char* tail) {
  lua_pushstring(L, head);
  lua_pushlstring(L, middle, middleLength);
  lua_pushstring(L, tail);
  lua_concat(L, 3);
  lua_error(L);
  std::abort();  // lua_error does not return
}

void RaiseComponentError(lua_State* L, const char* text, const char* format) {
  if (!format) RaiseScriptError(L, text);
  luaL_error(L, format, text);
  std::abort();  // luaL_error does not return
}

}  // namespace dnt
