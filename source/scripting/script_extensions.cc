#include "source/scripting/script_extensions.h"

#include <lua.hpp>

#include "source/scripting/dnt_parsed_url.h"

namespace dnt {

void OpenHttpMessageTables(lua_State*) {
  // The HTTP message objects add their method tables here: for each of
  // "Dnt::HttpRequest" (13 methods) and "Dnt::HttpResponse" (8 methods),
  // lua_createtable(L, 0, n), luaL_setfuncs, "__index" = the table itself,
  // lua_setfield(L, LUA_REGISTRYINDEX, name).
}

void OpenScriptModules(lua_State* L) {
  luaL_requiref(L, "DntParsedUrl", OpenDntParsedUrl, 0);
  lua_pop(L, 1);
}

}  // namespace dnt
