// The Dnt::HttpRequest and Dnt::HttpResponse script types: a full userdata of
// two pointers (the host's header and the message's controller) whose methods
// call the host directly. An object is valid for one entry call only.
#pragma once

#include <span>

#include "do_not_track/http_message.h"

struct lua_State;
struct luaL_Reg;

namespace dnt {

inline constexpr const char* HttpRequestTypeName = "Dnt::HttpRequest";
inline constexpr const char* HttpResponseTypeName = "Dnt::HttpResponse";

/// One script type: its registry name and its methods (null-terminated).
struct HttpMessageType {
  const char* name;
  const luaL_Reg* methods;
  int methodCount;
};

/// Dnt::HttpRequest (13 methods) and Dnt::HttpResponse (8).
std::span<const HttpMessageType> HttpMessageTypes() noexcept;

/// A Dnt::HttpRequest or Dnt::HttpResponse object for one entry call. Push*
/// creates the full userdata on L's stack and pins it (in a pins table of the
/// registry); the destructor clears both pointers, so a script that kept the
/// object gets a Lua error from every method afterwards, and unpins it. Never
/// throws from the destructor.
class ScopedHttpMessage {
 public:
  explicit ScopedHttpMessage(lua_State* L) noexcept : m_state(L) {}
  ~ScopedHttpMessage();
  ScopedHttpMessage(const ScopedHttpMessage&) = delete;
  ScopedHttpMessage& operator=(const ScopedHttpMessage&) = delete;

  /// Push one object. Raises Lua errors only (memory), and leaves nothing
  /// half made: an object that failed to be pinned never reaches the host.
  /// A second Push ends the first object.
  void PushRequest(IHttpRequestHeader* header, IHttpMessageController* controller);
  void PushResponse(IHttpResponseHeader* header, IHttpMessageController* controller);

  /// Whether `block` is the userdata of a request object that is still in
  /// its call (on this thread).
  static bool IsLiveRequest(const void* block) noexcept;

 private:
  void Push(IHttpHeader* header, IHttpMessageController* controller, bool request);
  void End() noexcept;

  lua_State* m_state;
  void* m_block = nullptr;
  bool m_request = false;
  ScopedHttpMessage* m_next = nullptr;  // the thread's other live messages
};

}  // namespace dnt
