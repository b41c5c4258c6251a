// Texts of script failures: the status names and the "prefix + name +
// detail" messages of the panic handler and of failed loads.
#pragma once

#include <string>

struct lua_State;

namespace dnt {

/// "ok", "syntax error", "memory allocation error" or "runtime error".
const char* ScriptStatusName(int status) noexcept;

/// `prefix`, the status name ("enigmatic mystery" for status 0), and, unless
/// the status is a memory error, ": " and the stack top when it converts to
/// a string.
std::string DescribeScriptFailure(lua_State* L, const char* prefix, int status);

/// Raise a Lua error with `text`, or with head + middle + tail (the middle
/// may hold any bytes).
[[noreturn]] void RaiseScriptError(lua_State* L, const char* text);
[[noreturn]] void RaiseScriptError(lua_State* L, const char* head, const char* middle, std::size_t middleLength,
                                   const char* tail);

}  // namespace dnt
