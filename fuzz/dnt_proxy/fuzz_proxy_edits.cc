// Any outcome of the engine on a request or a response (fields set, added
// and removed with any bytes, a URL rewritten to anything, an answer of any
// text) taken by the proxy: refused whole, leaving the header as it was, or
// applied and then written as the proxy writes it, when Beast's parser must
// read back exactly one message, the one meant, with no byte left over.
#include <fuzzer/FuzzedDataProvider.h>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http.hpp>
#include <cstdlib>
#include <sstream>
#include <string>

#include "host/http_message.h"
#include "tools/dnt_proxy/engine_exchange.h"
#include "tools/dnt_proxy/forwarding.h"
#include "tools/dnt_proxy/replies.h"

namespace {

using namespace dnt_proxy;
namespace beast = boost::beast;

void Require(bool condition) {
  if (!condition) std::abort();
}

std::vector<host::HttpField> FieldsOf(const http::fields& fields) {
  std::vector<host::HttpField> list;
  for (const auto& field : fields) list.push_back({std::string(field.name_string()), std::string(field.value())});
  return list;
}

// What the engine may do to a message: a few operations on its fields, with
// names and values of any bytes.
void Edit(FuzzedDataProvider& in, host::HttpMessage& message) {
  const int operations = in.ConsumeIntegralInRange(0, 4);
  for (int i = 0; i < operations; ++i) {
    const std::string name = in.ConsumeBool() ? in.PickValueInArray({"X-Echo", "Cookie", "Host", "Content-Length",
                                                                      "Transfer-Encoding", "Connection", "DNT"})
                                              : in.ConsumeRandomLengthString(32);
    switch (in.ConsumeIntegralInRange(0, 2)) {
      case 0:
        message.SetValues(name, {in.ConsumeRandomLengthString(128)});
        break;
      case 1:
        message.SetValues(name, {in.ConsumeRandomLengthString(64), in.ConsumeRandomLengthString(64)});
        break;
      default:
        message.Remove(name);
    }
  }
}

// Exactly one message, the whole of `bytes`.
template <bool isRequest>
http::message<isRequest, http::string_body> ParseOne(const std::string& bytes) {
  http::parser<isRequest, http::string_body> parser;
  parser.eager(true);
  beast::error_code error;
  std::size_t used = 0;
  while (!parser.is_done() && used < bytes.size()) {
    const std::size_t n = parser.put(boost::asio::buffer(bytes.data() + used, bytes.size() - used), error);
    Require(!error);
    used += n;
  }
  Require(parser.is_done() && used == bytes.size());
  return parser.release();
}

void CheckAnswer(const EngineAnswer& answer) {
  const auto reply = MakeReply(answer.status, answer.reason, answer.body);
  std::ostringstream wire;
  wire << *reply;
  const auto parsed = ParseOne<false>(wire.str());
  Require(parsed.result_int() == answer.status && parsed.body() == answer.body);
}

void CheckRequest(FuzzedDataProvider& in) {
  const std::string url = "http://site.test/page?q=1";
  http::request<http::string_body> request(http::verb::post, "/page?q=1", 11);
  request.set(http::field::host, "site.test");
  request.set(http::field::cookie, "uid=42");
  request.set(http::field::user_agent, "fuzz");
  request.body() = "body";
  request.content_length(request.body().size());
  const std::vector<host::HttpField> before = FieldsOf(request);

  // The engine is given every field but Content-Length.
  std::vector<host::HttpField> given = before;
  std::erase_if(given, [](const host::HttpField& field) { return field.name == "Content-Length"; });
  host::HttpMessage edited({url, "POST", "HTTP/1.1"}, given);
  Edit(in, edited);
  if (in.ConsumeBool()) edited.SetTarget(in.ConsumeBool() ? "http://site.test/" + in.ConsumeRandomLengthString(64)
                                                          : in.ConsumeRandomLengthString(64));
  if (in.ConsumeIntegralInRange(0, 7) == 0) {
    edited.SetForbiddenResponse({in.ConsumeRandomLengthString(64), in.ConsumeRandomLengthString(64)});
  }

  RequestOutcome outcome;
  try {
    outcome = ApplyRequestEdits(edited, request.base(), url);
  } catch (const module_host::EngineError&) {
    Require(FieldsOf(request) == before);
    return;
  }
  if (outcome.answer) return CheckAnswer(*outcome.answer);
  // On as the proxy sends it.
  if (outcome.rewritten) {
    request.target(outcome.rewritten->originTarget);
    request.set(http::field::host, HostField(outcome.rewritten->server, outcome.rewritten->tls));
  }
  AddVia(request);
  std::ostringstream wire;
  wire << request;
  const auto parsed = ParseOne<true>(wire.str());
  Require(parsed.target() == request.target() && parsed.body() == "body");
  Require(FieldsOf(parsed) == FieldsOf(request));
}

void CheckResponse(FuzzedDataProvider& in) {
  http::response<http::string_body> response(http::status::ok, 11);
  response.set(http::field::set_cookie, "uid=42");
  response.set(http::field::content_type, "text/plain");
  response.body() = "body";
  host::HttpMessage edited({}, FieldsOf(response));
  Edit(in, edited);
  if (in.ConsumeIntegralInRange(0, 7) == 0) edited.SetOkResponse({in.ConsumeRandomLengthString(16), ""});
  if (in.ConsumeIntegralInRange(0, 7) == 0) {
    edited.SetForbiddenResponse({in.ConsumeRandomLengthString(64), in.ConsumeRandomLengthString(64)});
  }
  const std::vector<host::HttpField> before = FieldsOf(response);
  ResponseOutcome outcome;
  try {
    outcome = ApplyResponseEdits(edited, response.base());
  } catch (const module_host::EngineError&) {
    Require(FieldsOf(response) == before);
    return;
  }
  if (outcome.answer) return CheckAnswer(*outcome.answer);
  // The proxy frames the body anew, here in chunks.
  RemoveHopByHop(response, false);
  response.chunked(true);
  std::ostringstream wire;
  wire << response;
  const auto parsed = ParseOne<false>(wire.str());
  Require(parsed.body() == "body" && FieldsOf(parsed) == FieldsOf(response));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    CheckRequest(in);
  } else {
    CheckResponse(in);
  }
  return 0;
}
