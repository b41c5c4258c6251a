#include "source/scripting/script_extensions.h"

#include <lua.hpp>

#include "source/scripting/bounded_libraries.h"
#include "source/scripting/dnt_parsed_url.h"
#include "source/scripting/script_http_request.h"

namespace dnt {

void OpenHttpMessageTables(lua_State* L) {
  for (const HttpMessageType& type : HttpMessageTypes()) {
    // "__index" and "__metatable".
    lua_createtable(L, 0, 2);
    // A "__gc" that a script put here would finalise every later message.
    SetProtectedMethods(L, -1, type.methods, type.methodCount);
    lua_setfield(L, LUA_REGISTRYINDEX, type.name);
  }
}

void OpenScriptModules(lua_State* L) {
  luaL_requiref(L, "DntParsedUrl", OpenDntParsedUrl, 0);
  lua_pop(L, 1);
}

}  // namespace dnt
