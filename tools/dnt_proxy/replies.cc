#include "tools/dnt_proxy/replies.h"

#include "tools/dnt_proxy/forwarding.h"

namespace dnt_proxy {

std::shared_ptr<http::response<http::string_body>> MakeReply(unsigned status, const std::string& reason,
                                                              std::string body) {
  auto response = std::make_shared<http::response<http::string_body>>();
  response->version(11);
  response->result(status);
  if (!reason.empty()) response->reason(reason);
  response->set(http::field::server, std::string(ViaName));
  response->set(http::field::content_type, "text/plain; charset=utf-8");
  response->set(http::field::cache_control, "no-store");
  response->body() = std::move(body);
  response->prepare_payload();
  return response;
}

namespace {

std::string EscapeHtml(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '&': escaped += "&amp;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

}  // namespace

std::shared_ptr<http::response<http::string_body>> MakeErrorReply(unsigned status, const std::string& why) {
  const std::string reason(http::obsolete_reason(static_cast<http::status>(status)));
  auto response = MakeReply(status, "",
                            "<!doctype html><html><head><meta charset=\"utf-8\"><title>" + std::to_string(status) + " " +
                                reason + "</title></head><body style=\"font-family:sans-serif;max-width:40em;margin:3em auto\">"
                                "<h1>" + std::to_string(status) + " " + reason + "</h1><p>" + std::string(ViaName) +
                                ": " + EscapeHtml(why) + "</p></body></html>\n");
  response->set(http::field::content_type, "text/html; charset=utf-8");
  return response;
}

void SetConnection(http::response_header<>& header, unsigned clientVersion, bool keepAlive) {
  if (!keepAlive) {
    header.set(http::field::connection, "close");
  } else if (clientVersion < 11) {
    header.set(http::field::connection, "keep-alive");
  } else {
    header.erase(http::field::connection);
  }
}

}  // namespace dnt_proxy
