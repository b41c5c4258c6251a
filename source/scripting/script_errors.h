// Texts of script failures: the status names and the "prefix + name +
// detail" messages of the panic handler and of failed loads.
#pragma once

#include <exception>
#include <new>
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

/// Raises `text` as it is, or through luaL_error with `format` (one "%s"),
/// which puts the calling script's position first.
[[noreturn]] void RaiseComponentError(lua_State* L, const char* text, const char* format);

/// Runs component code and raises the text of a std::exception it throws
/// (see RaiseComponentError) once the try has been left: a Lua error is a
/// C++ exception in this build as well and must never meet these handlers.
/// Lua's own errors are no std::exception and pass straight through.
template <class Work>
void RunComponent(lua_State* L, Work&& work, const char* format = nullptr) {
  std::exception_ptr held;  // keeps `text` alive until it is pushed
  const char* text = nullptr;
  try {
    work();
  } catch (const std::bad_alloc&) {
    text = "std::bad_alloc";
  } catch (const std::exception& e) {
    held = std::current_exception();
    text = e.what();
  }
  if (text) RaiseComponentError(L, text, format);
}

}  // namespace dnt
