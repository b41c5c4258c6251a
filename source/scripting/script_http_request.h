// Placeholder of the HTTP message objects' contract, replaced by their
// implementation when it lands.
#pragma once

#include "do_not_track/http_message.h"

struct lua_State;

namespace dnt {

class ScopedHttpMessage {
 public:
  explicit ScopedHttpMessage(lua_State* L) noexcept;
  ~ScopedHttpMessage();
  void PushRequest(IHttpRequestHeader* header, IHttpMessageController* controller);
  void PushResponse(IHttpResponseHeader* header, IHttpMessageController* controller);
};

}  // namespace dnt
