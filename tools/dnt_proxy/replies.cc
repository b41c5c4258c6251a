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

std::shared_ptr<http::response<http::string_body>> MakeErrorReply(unsigned status, const std::string& why) {
  return MakeReply(status, "", std::string(ViaName) + ": " + why + "\n");
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
