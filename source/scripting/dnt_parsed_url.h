// The DntParsedUrl script type: a full userdata holding one
// orv::network::ParsedUrl, with methods to read parts (raw or normalised),
// rewrite the query as a table, replace the path or fragment, drop the host
// and serialise.
#pragma once

#include "url_parser/parsed_url.h"

struct lua_State;

namespace dnt {

/// Registry key of the method table, and the type name in argument errors.
inline constexpr const char* DntParsedUrlTypeName = "DntParsedUrl";

/// Module opener, for luaL_requiref(L, "DntParsedUrl", OpenDntParsedUrl, 0):
/// creates (or reuses) the method table under the registry key
/// "DntParsedUrl" and returns the module table { new = ... }. Raises Lua
/// errors only (out of memory).
int OpenDntParsedUrl(lua_State* L);

/// Pushes a new DntParsedUrl that owns `url` (for objects that hand URLs to
/// scripts). The module must have been opened in `L`. Raises Lua errors only.
void PushDntParsedUrl(lua_State* L, orv::network::ParsedUrl&& url);

}  // namespace dnt
