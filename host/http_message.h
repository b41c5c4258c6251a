// Reference HTTP message objects: an in-memory message (request line, ordered
// header fields, the response the engine asked for) with the request header,
// response header and controller objects the engine calls. Tests, tools and
// the traffic scanner build messages here; every operation can be told to
// fail with a given code.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "do_not_track/http_message.h"
#include "orv/com_ptr.h"

namespace host {

/// One header field line. Several lines may carry the same name.
struct HttpField {
  std::string name;
  std::string value;
  friend bool operator==(const HttpField&, const HttpField&) = default;
};

/// The two texts of a response the engine asked for.
struct HttpResponseTexts {
  std::string first;
  std::string second;
  friend bool operator==(const HttpResponseTexts&, const HttpResponseTexts&) = default;
};

/// The host operations, for fault injection.
enum class HttpOperation {
  GetFieldValues,
  SetFieldValues,
  GetField,
  SetField,
  RemoveField,
  GetRequestLine,
  SetRequestUrl,
  SetForbiddenResponse,
  QueryOkResponse,
  SetOkResponse,
};
inline constexpr std::size_t HttpOperationCount = 10;

/// "METHOD TARGET VERSION", split at single spaces; std::invalid_argument
/// when it has not exactly three non-empty parts.
dnt::HttpRequestLine ParseRequestLine(std::string_view text);
/// "Name: value" (blanks around the value dropped); std::invalid_argument
/// without a colon or with an empty name.
HttpField ParseHeaderField(std::string_view text);

/// The message itself. Field names compare without regard to ASCII case and
/// keep the spelling they were set with.
class HttpMessage {
 public:
  HttpMessage() = default;
  HttpMessage(dnt::HttpRequestLine line, std::vector<HttpField> fields)
      : m_line(std::move(line)), m_fields(std::move(fields)) {}

  const dnt::HttpRequestLine& Line() const noexcept { return m_line; }
  const std::vector<HttpField>& Fields() const noexcept { return m_fields; }
  const std::optional<HttpResponseTexts>& ForbiddenResponse() const noexcept { return m_forbidden; }
  const std::optional<HttpResponseTexts>& OkResponse() const noexcept { return m_ok; }

  /// Every value of `name`, in field order (empty when absent).
  std::vector<std::string> Values(std::string_view name) const;
  /// The values of `name` joined as one field: "; " for cookie, ", " for
  /// any other name; nullopt when absent.
  std::optional<std::string> CombinedValue(std::string_view name) const;
  /// Replaces every line of `name` with one line per value, where the first
  /// old line stood (appended when there was none). No values removes it.
  void SetValues(std::string_view name, const std::vector<std::string>& values);
  /// Removes every line of `name`; false when there was none.
  bool Remove(std::string_view name);
  void SetTarget(std::string_view url) { m_line.url.assign(url); }
  void SetForbiddenResponse(HttpResponseTexts texts) { m_forbidden = std::move(texts); }
  void SetOkResponse(HttpResponseTexts texts) { m_ok = std::move(texts); }

  /// From now on `operation` fails with `code` (NoError makes it work again).
  void Fail(HttpOperation operation, orv::result_t code) noexcept;
  /// The injected failure of `operation`, or NoError.
  orv::result_t FailureOf(HttpOperation operation) const noexcept;

 private:
  dnt::HttpRequestLine m_line;
  std::vector<HttpField> m_fields;
  std::optional<HttpResponseTexts> m_forbidden;
  std::optional<HttpResponseTexts> m_ok;
  std::array<orv::result_t, HttpOperationCount> m_failures{};
};

/// Header and controller objects over one shared message.
orv::ComPtr<dnt::IHttpRequestHeader> MakeRequestHeader(std::shared_ptr<HttpMessage> message);
orv::ComPtr<dnt::IHttpResponseHeader> MakeResponseHeader(std::shared_ptr<HttpMessage> message);
/// `withOkResponse` false builds a controller that refuses IHttpOkResponse.
orv::ComPtr<dnt::IHttpMessageController> MakeController(std::shared_ptr<HttpMessage> message,
                                                         bool withOkResponse = true);

}  // namespace host
