// Standard library functions whose one call can outlast any allowance, since
// the count hook does not run inside C and the allocator sees only what they
// allocate: a pattern search backtracks over its subject once more for every
// quantifier, string.rep loops as often as it is told even when it copies
// nothing, table.insert moves every element after its position, table.sort
// compares long strings byte by byte, tonumber and load scan their whole
// text. In every state they charge their work to the script's allowance, so
// a script that asks for more than is left fails with the too-long error
// instead of keeping its thread busy for minutes.
//
// Finalizers run with hooks off, so no script code may become one:
// setmetatable and debug.setmetatable refuse a metatable holding "__gc", and
// debug.setmetatable any object that the libraries finalise. Nor may a
// script edit the metatables that the libraries give their objects (a "__gc"
// put there runs as theirs): getmetatable and debug.getmetatable see false
// for those, and debug.getregistry, where they are kept, is refused.
#pragma once

struct lua_State;
struct luaL_Reg;

namespace dnt {

/// The string and table libraries' openers (as luaopen_string and
/// luaopen_table), with the functions that do bulk work bounded.
int OpenBoundedString(lua_State* L);
int OpenBoundedTable(lua_State* L);

/// Replaces the functions of the base and io libraries that do bulk work,
/// and the metatable setters, by their bounded versions.
void BoundLibraryFunctions(lua_State* L);

/// Hides the metatable at `metatable` from scripts: "__metatable" false, and
/// "__index" a table of its own methods (the names without "__") instead of
/// the metatable itself.
void ProtectMetatable(lua_State* L, int metatable);

/// As ProtectMetatable, for a metatable being made: the metamethods of
/// `functions` go into it, the other `count` or fewer into its methods table.
void SetProtectedMethods(lua_State* L, int metatable, const luaL_Reg* functions, int count);

/// Puts the libraries' own "__gc" back into the metatables of the objects
/// they finalise (files, DntParsedUrl objects, loaded C libraries), should a
/// script have changed it; runs nothing of a script's and raises nothing.
void RestoreLibraryFinalizers(lua_State* L) noexcept;

}  // namespace dnt
