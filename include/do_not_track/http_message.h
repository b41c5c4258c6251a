// The host's HTTP message objects as the engine calls them: the request and
// response headers of one message and the controller that can answer it.
// How the host stores fields or sends a response is its own business; the
// engine only calls the operations below. Names and values cross the
// boundary as narrow byte strings, unchanged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "orv/object.h"

namespace dnt {

/// A list of header field values, in the host's order.
using StringList = std::vector<std::string>;

/// The request line as the request header holds it.
struct HttpRequestLine {
  std::string url;  ///< the request target, as sent
  std::string method;
  std::string version;
};

/// Field operations shared by request and response headers. Field names are
/// passed exactly as the script gives them; the host decides how names
/// compare (HTTP field names are case-insensitive).
class IHttpHeader : public orv::IObject {
 public:
  /// Interface id assigned by this SDK (the host framework leaves it open).
  static constexpr orv::iid_t iid = 0x10a1e003;
  /// Every value of field `name`; NotFound (0x8000004c) when it is absent.
  virtual orv::result_t GetFieldValues(std::string_view name, StringList* values) = 0;
  /// Replaces every value of field `name` with `values`.
  virtual orv::result_t SetFieldValues(std::string_view name, const StringList& values) = 0;
  /// The value of field `name`; NotFound (0x8000004c) when it is absent.
  virtual orv::result_t GetField(std::string_view name, std::string* value) = 0;
  /// Sets field `name` to the single value `value`.
  virtual orv::result_t SetField(std::string_view name, std::string_view value) = 0;
  /// Removes field `name`; NotFound when it is absent.
  virtual orv::result_t RemoveField(std::string_view name) = 0;

 protected:
  ~IHttpHeader() = default;
};

/// The header of a request: fields, the request line and the target.
class IHttpRequestHeader : public IHttpHeader {
 public:
  /// Interface id assigned by this SDK.
  static constexpr orv::iid_t iid = 0x10a1e004;
  virtual orv::result_t GetRequestLine(HttpRequestLine* line) = 0;
  /// Replaces the request target with `url`.
  virtual orv::result_t SetRequestUrl(std::string_view url) = 0;

 protected:
  ~IHttpRequestHeader() = default;
};

/// The header of a response: the shared field operations only.
class IHttpResponseHeader : public IHttpHeader {
 public:
  /// Interface id assigned by this SDK.
  static constexpr orv::iid_t iid = 0x10a1e005;

 protected:
  ~IHttpResponseHeader() = default;
};

/// The controller of one message: lets the engine answer it with a
/// forbidden response instead of passing it on. The meaning of the two texts
/// belongs to the host. A controller may also offer IHttpOkResponse.
class IHttpMessageController : public orv::IObject {
 public:
  /// Interface id assigned by this SDK.
  static constexpr orv::iid_t iid = 0x10a1e006;
  virtual orv::result_t SetForbiddenResponse(const std::string& first, std::string_view second) = 0;

 protected:
  ~IHttpMessageController() = default;
};

/// Optional interface of a controller: answer the message with an empty OK
/// response. Reached by QueryInterface on the controller.
class IHttpOkResponse : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0x977942C0;
  virtual orv::result_t SetOkResponse(const std::string& first, std::string_view second) = 0;

 protected:
  ~IHttpOkResponse() = default;
};

}  // namespace dnt
