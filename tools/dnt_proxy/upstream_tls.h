// TLS towards servers: full verification of every server's certificate
// against the system's trust store (or only the authorities of
// --upstream-ca, for tests), its name checked by OpenSSL against the host
// the request named, ALPN offering http/1.1 only. A server whose
// certificate does not verify is never talked to.
#pragma once

#include <openssl/ssl.h>

#include <boost/asio/ssl/context.hpp>
#include <boost/system/error_code.hpp>
#include <string>

namespace dnt_proxy {

class UpstreamTls {
 public:
  /// `authorities`: a PEM file of the only authorities trusted; empty for
  /// the system's. Throws std::runtime_error when it cannot be read.
  explicit UpstreamTls(const std::string& authorities);
  UpstreamTls(const UpstreamTls&) = delete;
  UpstreamTls& operator=(const UpstreamTls&) = delete;

  boost::asio::ssl::context& Context() { return m_context; }

  /// Readies a connection's TLS object for `host` (a name or an address):
  /// the name sent (SNI) and the one its certificate must show. Throws
  /// std::runtime_error.
  static void Prepare(SSL* ssl, const std::string& host);

  /// Why the handshake on `ssl` failed with `error`, for people; sets
  /// `untrusted` when the server's certificate did not verify.
  static std::string Describe(SSL* ssl, const boost::system::error_code& error, bool& untrusted);

 private:
  boost::asio::ssl::context m_context;
};

}  // namespace dnt_proxy
