#include "tools/dnt_proxy/interception.h"

#include <openssl/sha.h>

#include "tools/dnt_proxy/forwarding.h"
#include "tools/dnt_proxy/openssl_handles.h"

namespace dnt_proxy {
namespace {

int SelectProtocol(SSL*, const unsigned char** out, unsigned char* length, const unsigned char* offered,
                   unsigned int offeredLength, void*) {
  unsigned char* selected = nullptr;
  if (SSL_select_next_proto(&selected, length, Http11Alpn, sizeof Http11Alpn - 1, offered, offeredLength) !=
      OPENSSL_NPN_NEGOTIATED) {
    // A client that offers no http/1.1 learns of no protocol, and may still
    // speak HTTP/1.1.
    return SSL_TLSEXT_ERR_NOACK;
  }
  *out = selected;
  return SSL_TLSEXT_ERR_OK;
}

int HandshakeIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// The name to make the leaf for; empty, with `problem` set, when the client
// asked for a name it may not have.
std::string LeafName(SSL* ssl, ClientHandshake& handshake) {
  const char* sni = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
  if (!sni) return handshake.connectHost;
  const auto name = HostName(sni);
  if (!name) {
    handshake.problem = "the client asked for the invalid server name \"" + std::string(sni) + "\"";
    return {};
  }
  // Through a tunnel to one server the client may not get another's
  // certificate: the engine was asked about this one only.
  if (!IsIpAddress(handshake.connectHost) && *name != handshake.connectHost) {
    handshake.problem = "the client asked for " + *name + " inside the tunnel to " + handshake.connectHost;
    return {};
  }
  return *name;
}

}  // namespace

Interception::Interception(const std::filesystem::path& authorityDirectory, std::size_t leafCapacity)
    : m_authority(authorityDirectory), m_leaves(m_authority, leafCapacity), m_context(boost::asio::ssl::context::tls_server) {
  SSL_CTX* context = m_context.native_handle();
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  SSL_CTX_set_tlsext_servername_callback(context, &Interception::CheckName);
  SSL_CTX_set_cert_cb(context, &Interception::SelectLeaf, this);
  // Resumption rests on tickets the clients keep: no cache of sessions
  // grows here.
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_alpn_select_cb(context, SelectProtocol, nullptr);
}

void Interception::Attach(SSL* ssl, ClientHandshake& handshake) {
  SSL_set_ex_data(ssl, HandshakeIndex(), &handshake);
  // A session resumes only in a tunnel to the server it was made for.
  unsigned char context[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(handshake.connectHost.data()), handshake.connectHost.size(), context);
  SSL_set_session_id_context(ssl, context, sizeof context);
}

int Interception::CheckName(SSL* ssl, int* alert, void*) {
  auto* handshake = static_cast<ClientHandshake*>(SSL_get_ex_data(ssl, HandshakeIndex()));
  if (!handshake) return SSL_TLSEXT_ERR_ALERT_FATAL;
  handshake->name = LeafName(ssl, *handshake);
  if (handshake->name.empty()) {
    *alert = SSL_AD_UNRECOGNIZED_NAME;
    return SSL_TLSEXT_ERR_ALERT_FATAL;
  }
  return SSL_TLSEXT_ERR_OK;
}

int Interception::SelectLeaf(SSL* ssl, void* self) {
  auto* handshake = static_cast<ClientHandshake*>(SSL_get_ex_data(ssl, HandshakeIndex()));
  if (!handshake || handshake->name.empty()) return 0;
  const std::string& name = handshake->name;
  try {
    const auto leaf = static_cast<Interception*>(self)->m_leaves.Get(name);
    if (SSL_use_cert_and_key(ssl, leaf->certificate.get(), leaf->key.get(), nullptr, 1) != 1) {
      throw OpenSslError("cannot use the leaf for " + name);
    }
  } catch (const std::exception& e) {
    handshake->problem = e.what();
    return 0;
  }
  return 1;
}

}  // namespace dnt_proxy
