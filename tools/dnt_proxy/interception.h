// TLS towards the clients whose tunnels the proxy decrypts: the local
// certificate authority, the leaves it mints by the name each client asks
// for (SNI, else the CONNECT host), and one TLS server context that every
// intercepted connection shares. ALPN offers http/1.1 only: the proxy
// speaks HTTP/1.1 inside the tunnel, as outside.
#pragma once

#include <openssl/ssl.h>

#include <boost/asio/ssl/context.hpp>
#include <filesystem>
#include <string>

#include "tools/dnt_proxy/certificate_authority.h"
#include "tools/dnt_proxy/leaf_cache.h"

namespace dnt_proxy {

/// One client's handshake: what the certificate callback is given, and
/// what it found.
struct ClientHandshake {
  /// The host of the CONNECT request.
  std::string connectHost;
  /// The server inside the tunnel: the CONNECT host, or for a CONNECT to
  /// an address the name the client asked for. Known once the client's
  /// hello is read, whether the handshake is new or resumes a session (and
  /// then has no leaf made).
  std::string name;
  /// Why no leaf was given, when none was.
  std::string problem;
};

class Interception {
 public:
  /// Loads the authority of `authorityDirectory` (see CertificateAuthority)
  /// and keeps at most `leafCapacity` leaves. Throws std::runtime_error.
  Interception(const std::filesystem::path& authorityDirectory, std::size_t leafCapacity);
  Interception(const Interception&) = delete;
  Interception& operator=(const Interception&) = delete;

  boost::asio::ssl::context& Context() { return m_context; }

  /// Ties `handshake`, which must outlive it, to a connection's TLS object
  /// before its handshake.
  static void Attach(SSL* ssl, ClientHandshake& handshake);

  LeafCache::Counts Leaves() const { return m_leaves.Count(); }

 private:
  // OpenSSL's server name callback, for every client hello: the name the
  // client asks for must be the tunnel's.
  static int CheckName(SSL* ssl, int* alert, void*);
  // OpenSSL's certificate callback, for a handshake that makes a new
  // session.
  static int SelectLeaf(SSL* ssl, void* self);

  CertificateAuthority m_authority;
  LeafCache m_leaves;
  boost::asio::ssl::context m_context;
};

}  // namespace dnt_proxy
