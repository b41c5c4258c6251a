// The DNT service a host gets from CreateDntService: a factory of one
// processor per HTTP session, and the processor that runs the base scripts
// on the session's requests and responses and reports its verdict.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "do_not_track/categories.h"
#include "do_not_track/http_message.h"
#include "orv/object.h"

namespace dnt {

/// What the host knows of an HTTP session when it opens one.
struct SessionParams {
  /// The server domain of the session (UTF-8).
  std::string domain;
  /// Host-defined. When true, no "DNT" header is ever asked for; the flag is
  /// passed to the request script as its second argument.
  bool sessionFlag = false;
};

struct RequestParams {
  IHttpRequestHeader* httpRequestHeader = nullptr;
};

struct ResponseParams {
  IHttpResponseHeader* httpResponseHeader = nullptr;
};

/// The outcome of a session, as GetVerdict reports it.
struct TrackingVerdict {
  uint32_t verdict = verdict::NotDetected;
  /// The tracking service the verdict is about; empty when none.
  std::u16string serviceName;
  uint32_t serviceId = 0;
  uint32_t serviceCategory = category::SocialNetwork;
};

/// One HTTP session. Used by one thread at a time.
class IHttpSessionProcessor : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0x924AF017;
  /// Runs the request script on one request. Methods other than GET and
  /// POST are skipped. `responseProcessingRequired` tells whether the host
  /// should pass the response to ProcessResponse.
  virtual orv::result_t ProcessRequest(const RequestParams* requestParams, IHttpMessageController* controller,
                                       bool* responseProcessingRequired) = 0;
  /// Runs the response script on one response.
  virtual orv::result_t ProcessResponse(const ResponseParams* responseParams,
                                        IHttpMessageController* controller) = 0;
  /// The session's verdict so far.
  virtual orv::result_t GetVerdict(TrackingVerdict* verdict) = 0;

 protected:
  ~IHttpSessionProcessor() = default;
};

/// The DNT service: creates session processors on the current bases.
class IProcessorFactory : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0x33D1123D;
  /// A new processor on the bases current now; it keeps them for its life.
  virtual orv::result_t CreateHttpSessionProcessor(const SessionParams* params, IHttpSessionProcessor** out) = 0;
  /// Whether sessions to `domain` need processing at all.
  virtual orv::result_t IsDomainProcessingRequired(std::string_view domain, bool* required) = 0;

 protected:
  ~IProcessorFactory() = default;
};

}  // namespace dnt
