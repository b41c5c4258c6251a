// String functions whose one call can outlast any instruction allowance,
// since the count hook does not run inside C: a pattern search backtracks
// over its subject once more for every quantifier, and string.rep loops as
// often as it is told even when it copies nothing. In every state they
// charge their work to the script's allowance, so a script that asks for
// more than is left fails with the too-long error instead of keeping its
// thread busy for minutes.
#pragma once

struct lua_State;

namespace dnt {

/// Replaces string.find, match, gmatch, gsub and rep of `L`, whose string
/// library must still be the standard one, by their charging versions.
void BoundStringFunctions(lua_State* L);

}  // namespace dnt
