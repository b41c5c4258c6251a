// The answers the proxy gives itself: the engine's forbidden or OK answer,
// a refusal, a failure to reach the server; and the Connection field that
// tells a client whether the connection stays open.
#pragma once

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <memory>
#include <string>
#include <string_view>

namespace dnt_proxy {

namespace http = boost::beast::http;

/// The answer to a CONNECT whose tunnel is open.
inline constexpr std::string_view EstablishedReply = "HTTP/1.1 200 Connection Established\r\n\r\n";

/// `status` with `reason` (the status's usual reason when empty) and a
/// plain-text body.
std::shared_ptr<http::response<http::string_body>> MakeReply(unsigned status, const std::string& reason,
                                                              std::string body);

/// A refusal or failure: the body says why, for the person who reads it.
std::shared_ptr<http::response<http::string_body>> MakeErrorReply(unsigned status, const std::string& why);

/// Sets Connection on a response to a client of HTTP `clientVersion` (10
/// or 11): "close" when the connection ends, "keep-alive" for an HTTP/1.0
/// client whose connection stays.
void SetConnection(http::response_header<>& header, unsigned clientVersion, bool keepAlive);

}  // namespace dnt_proxy
