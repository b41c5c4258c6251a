// The HTTP message objects this host hands to the engine: header objects
// over the scanner's own messages, changed in place, and a controller that
// records how the engine answered. A host with its own HTTP stack would
// implement the same SDK interfaces over that stack.
#pragma once

#include "do_not_track/http_message.h"
#include "host/host_object.h"
#include "orv/com_ptr.h"
#include "tools/dnt_scan/scan_engine.h"

namespace dnt_scan {

/// The request header object over `message`, which must outlive it.
orv::ComPtr<dnt::IHttpRequestHeader> MakeRequestHeader(HttpRequestMessage& message);

/// The response header object over `message`, which must outlive it.
orv::ComPtr<dnt::IHttpResponseHeader> MakeResponseHeader(HttpResponseMessage& message);

/// A controller that can answer with a forbidden or an empty OK response,
/// and remembers the last answer set.
class AnswerController final : public host::HostObject<dnt::IHttpMessageController, dnt::IHttpOkResponse> {
 public:
  orv::result_t SetForbiddenResponse(const std::string& first, std::string_view second) override;
  orv::result_t SetOkResponse(const std::string& first, std::string_view second) override;

  const EngineAnswer& Answer() const { return m_answer; }

 private:
  orv::result_t Set(EngineAnswer::Kind kind, const std::string& first, std::string_view second);

  EngineAnswer m_answer;
};

}  // namespace dnt_scan
