// Script types that live outside the scripting library, opened in every new
// state after DntEngine. Their bodies are in script_extensions.cc: the
// libraries that implement the types hook in there.
#pragma once

struct lua_State;

namespace dnt {

/// Creates the "Dnt::HttpRequest" and "Dnt::HttpResponse" method tables and
/// stores them in the registry under those names.
void OpenHttpMessageTables(lua_State* L);

/// Requires the modules offered to scripts (luaL_requiref "DntParsedUrl"),
/// leaving the stack as it was.
void OpenScriptModules(lua_State* L);

}  // namespace dnt
