#include "tools/dnt_proxy/engine_exchange.h"

#include <algorithm>
#include <charconv>

#include "host/http_changes.h"

namespace dnt_proxy {
namespace {

using host::HttpMessage;

// The fields the engine sees: all but Content-Length, which belongs to the
// message's framing as the proxy delimits it.
std::vector<host::HttpField> EngineFields(const http::fields& fields) {
  std::vector<host::HttpField> visible;
  visible.reserve(16);
  for (const auto& field : fields) {
    if (field.name() == http::field::content_length) continue;
    visible.push_back({std::string(field.name_string()), std::string(field.value())});
  }
  return visible;
}

// Whether the engine left the fields it was given as they are.
bool SameFields(const HttpMessage& message, const http::fields& fields) {
  auto field = message.Fields().begin();
  for (const auto& sent : fields) {
    if (sent.name() == http::field::content_length) continue;
    if (field == message.Fields().end() || field->name != View(sent.name_string()) || field->value != View(sent.value())) {
      return false;
    }
    ++field;
  }
  return field == message.Fields().end();
}

void ApplyFields(const HttpMessage& message, http::fields& fields) {
  const auto length = fields.find(http::field::content_length);
  const std::optional<std::string> contentLength =
      length == fields.end() ? std::nullopt : std::optional<std::string>(std::string(length->value()));
  fields.clear();
  for (const auto& field : message.Fields()) fields.insert(field.name, field.value);
  if (contentLength) fields.set(http::field::content_length, *contentLength);
}

// "403 Forbidden" and a body; a first text without a status number gives
// 403 with the status's usual reason.
EngineAnswer Answer(const host::HttpResponseTexts& texts) {
  const std::string_view line = texts.first;
  unsigned status = 0;
  const char* digitsEnd = line.data() + std::min<std::size_t>(line.size(), 3);
  const auto [end, error] = std::from_chars(line.data(), digitsEnd, status);
  const bool numbered = error == std::errc() && end == line.data() + 3 && status >= 200 && status <= 599;
  std::string_view reason = numbered ? line.substr(3) : std::string_view();
  reason.remove_prefix(std::min(reason.find_first_not_of(' '), reason.size()));
  return {numbered ? status : 403u, std::string(reason), texts.second};
}

// What the engine asked for in place of the server: a forbidden answer, or
// an empty OK.
std::optional<EngineAnswer> AnswerOf(const HttpMessage& message) {
  if (message.ForbiddenResponse()) return Answer(*message.ForbiddenResponse());
  if (message.OkResponse()) return EngineAnswer{200, "OK", ""};
  return std::nullopt;
}

}  // namespace

RequestOutcome ProcessRequest(module_host::EngineSession& session, http::request_header<>& header,
                              const std::string& url) {
  const auto request = std::make_shared<HttpMessage>(
      dnt::HttpRequestLine{url, std::string(header.method_string()), header.version() == 10 ? "HTTP/1.0" : "HTTP/1.1"},
      EngineFields(header));
  RequestOutcome outcome;
  outcome.responseProcessingRequired = session.ProcessRequest(request);
  outcome.answer = AnswerOf(*request);
  if (outcome.answer || (SameFields(*request, header) && request->Line().url == url)) return outcome;
  // The header still holds what was sent: the message as it was is made
  // only for what changed.
  const HttpMessage sent({url, request->Line().method, request->Line().version}, EngineFields(header));
  outcome.changes = host::DescribeChanges(sent, *request);
  ApplyFields(*request, header);
  if (request->Line().url != url) {
    outcome.rewritten = ParseHttpUrl(request->Line().url);
    if (!outcome.rewritten) {
      throw module_host::EngineError("the engine rewrote the URL to " + request->Line().url +
                                     ", which is not an http:// or https:// URL");
    }
  }
  return outcome;
}

ResponseOutcome ProcessResponse(module_host::EngineSession& session, http::response_header<>& header) {
  const auto response = std::make_shared<HttpMessage>(dnt::HttpRequestLine{}, EngineFields(header));
  session.ProcessResponse(response);
  ResponseOutcome outcome;
  outcome.answer = AnswerOf(*response);
  if (outcome.answer || SameFields(*response, header)) return outcome;
  outcome.changes = host::DescribeChanges(HttpMessage({}, EngineFields(header)), *response);
  ApplyFields(*response, header);
  return outcome;
}

}  // namespace dnt_proxy
