#include "tools/dnt_proxy/engine_exchange.h"

#include <algorithm>
#include <charconv>

#include "host/http_changes.h"
#include "tools/dnt_proxy/request_head.h"
#include "tools/dnt_proxy/wire_check.h"
#include "url_parser/special_schemes.h"

namespace dnt_proxy {
namespace {

using host::HttpMessage;
using orv::network::EqualsIgnoringAsciiCase;

// A reason longer than this is no reason anyone reads.
constexpr std::size_t MaxReason = 512;
// The method, the blanks and the version around the target.
constexpr std::size_t RequestLineRoom = 32;

// The fields that delimit the message or belong to one connection: the
// proxy's own, which an edit may neither add, change nor remove.
constexpr std::string_view FramingFields[] = {"content-length", "transfer-encoding", "connection", "keep-alive",
                                              "proxy-connection", "proxy-authenticate", "proxy-authorization", "te",
                                              "trailer", "upgrade"};

std::vector<std::string_view> ValuesOf(const std::vector<host::HttpField>& fields, std::string_view name) {
  std::vector<std::string_view> values;
  for (const auto& field : fields) {
    if (EqualsIgnoringAsciiCase(field.name, name)) values.push_back(field.value);
  }
  return values;
}

// Why the edited fields cannot replace `original` on the wire; nullopt when
// they can.
std::optional<std::string> CheckFields(const std::vector<host::HttpField>& original,
                                       const std::vector<host::HttpField>& edited, bool request) {
  std::size_t size = 2;
  for (const auto& field : edited) {
    if (!IsFieldName(field.name)) return "the field name \"" + field.name + "\" is not a token";
    if (!IsFieldValue(field.value)) return "the field " + field.name + " holds a control character";
    size += field.name.size() + field.value.size() + 4;
  }
  if (size > MaxHeaderBlock) return "the fields would exceed " + std::to_string(MaxHeaderBlock) + " bytes";
  for (const std::string_view name : FramingFields) {
    if (ValuesOf(original, name) != ValuesOf(edited, name)) return "the field " + std::string(name) + " is the proxy's";
  }
  if (request) {
    const auto hosts = ValuesOf(edited, "host");
    if (hosts.size() != 1 || !ParseAuthority(hosts.front(), 80)) return "the request needs exactly one valid Host";
  }
  return std::nullopt;
}

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
// 403 with the status's usual reason. A reason the wire would not carry
// gives way to the status's usual one, and a status that has no body drops
// it; `mended` says so.
EngineAnswer Answer(const host::HttpResponseTexts& texts, std::string& mended) {
  const std::string_view line = texts.first;
  unsigned status = 0;
  const char* digitsEnd = line.data() + std::min<std::size_t>(line.size(), 3);
  const auto [end, error] = std::from_chars(line.data(), digitsEnd, status);
  const bool numbered = error == std::errc() && end == line.data() + 3 && status >= 200 && status <= 599;
  std::string_view reason = numbered ? line.substr(3) : std::string_view();
  reason.remove_prefix(std::min(reason.find_first_not_of(' '), reason.size()));
  EngineAnswer answer{numbered ? status : 403u, std::string(reason), texts.second};
  if (!IsReasonPhrase(answer.reason) || answer.reason.size() > MaxReason) {
    answer.reason.clear();
    mended = "the answer's reason phrase cannot go on the wire: the status's own was sent";
  }
  if ((status == 204 || status == 304) && !answer.body.empty()) {
    answer.body.clear();
    mended = "a " + std::to_string(status) + " answer has no body: its body was dropped";
  }
  return answer;
}

// What the engine asked for in place of the server: a forbidden answer, or
// an empty OK.
std::optional<EngineAnswer> AnswerOf(const HttpMessage& message, std::string& mended) {
  if (message.ForbiddenResponse()) return Answer(*message.ForbiddenResponse(), mended);
  if (message.OkResponse()) return EngineAnswer{200, "OK", ""};
  return std::nullopt;
}

}  // namespace

RequestOutcome ProcessRequest(module_host::EngineSession& session, http::request_header<>& header,
                              const std::string& url) {
  const auto request = std::make_shared<HttpMessage>(
      dnt::HttpRequestLine{url, std::string(header.method_string()), header.version() == 10 ? "HTTP/1.0" : "HTTP/1.1"},
      EngineFields(header));
  const bool responseProcessingRequired = session.ProcessRequest(request);
  RequestOutcome outcome = ApplyRequestEdits(*request, header, url);
  outcome.responseProcessingRequired = responseProcessingRequired;
  return outcome;
}

ResponseOutcome ProcessResponse(module_host::EngineSession& session, http::response_header<>& header) {
  const auto response = std::make_shared<HttpMessage>(dnt::HttpRequestLine{}, EngineFields(header));
  session.ProcessResponse(response);
  return ApplyResponseEdits(*response, header);
}

RequestOutcome ApplyRequestEdits(const HttpMessage& edited, http::request_header<>& header, const std::string& url) {
  RequestOutcome outcome;
  outcome.answer = AnswerOf(edited, outcome.answerMended);
  if (outcome.answer || (SameFields(edited, header) && edited.Line().url == url)) return outcome;
  const std::string& editedUrl = edited.Line().url;
  if (editedUrl != url) {
    outcome.rewritten = ParseHttpUrl(editedUrl);
    if (!outcome.rewritten) {
      throw module_host::EngineError("the engine rewrote the URL to " + editedUrl +
                                     ", which is not an http:// or https:// URL");
    }
    if (!IsOriginTarget(outcome.rewritten->originTarget) ||
        outcome.rewritten->originTarget.size() + RequestLineRoom > MaxRequestLine) {
      throw module_host::EngineError("the engine rewrote the URL to " + editedUrl + ", which cannot go on the wire");
    }
  }
  // The header still holds what was sent: the message as it was is made
  // only for what changed.
  const HttpMessage sent({url, edited.Line().method, edited.Line().version}, EngineFields(header));
  if (const auto why = CheckFields(sent.Fields(), edited.Fields(), true)) {
    throw module_host::EngineError("the engine's edit was refused: " + *why);
  }
  outcome.changes = host::DescribeChanges(sent, edited);
  ApplyFields(edited, header);
  return outcome;
}

ResponseOutcome ApplyResponseEdits(const HttpMessage& edited, http::response_header<>& header) {
  ResponseOutcome outcome;
  outcome.answer = AnswerOf(edited, outcome.answerMended);
  if (outcome.answer || SameFields(edited, header)) return outcome;
  const HttpMessage sent({}, EngineFields(header));
  if (const auto why = CheckFields(sent.Fields(), edited.Fields(), false)) {
    throw module_host::EngineError("the engine's edit was refused: " + *why);
  }
  outcome.changes = host::DescribeChanges(sent, edited);
  ApplyFields(edited, header);
  return outcome;
}

}  // namespace dnt_proxy
