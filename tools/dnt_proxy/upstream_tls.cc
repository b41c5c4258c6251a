#include "tools/dnt_proxy/upstream_tls.h"

#include <openssl/x509v3.h>

#include <stdexcept>

#include "tools/dnt_proxy/forwarding.h"
#include "tools/dnt_proxy/openssl_handles.h"

namespace dnt_proxy {

UpstreamTls::UpstreamTls(const std::string& authorities) : m_context(boost::asio::ssl::context::tls_client) {
  SSL_CTX* context = m_context.native_handle();
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
  // Zero is success here.
  CheckSsl(SSL_CTX_set_alpn_protos(context, Http11Alpn, sizeof Http11Alpn - 1) == 0, "cannot offer http/1.1");
  m_context.set_verify_mode(boost::asio::ssl::verify_peer);
  boost::system::error_code error;
  if (authorities.empty()) {
    m_context.set_default_verify_paths(error);
  } else {
    m_context.load_verify_file(authorities, error);
  }
  if (error) {
    throw std::runtime_error("cannot load the authorities " + (authorities.empty() ? "of the system" : authorities) +
                             " that servers are verified with: " + error.message());
  }
}

void UpstreamTls::Prepare(SSL* ssl, const std::string& host) {
  if (IsIpAddress(host)) {
    CheckSsl(X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1, "cannot check an address");
    return;
  }
  SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  CheckSsl(SSL_set1_host(ssl, host.c_str()) == 1 && SSL_set_tlsext_host_name(ssl, host.c_str()) == 1,
           "cannot name the server");
}

std::string UpstreamTls::Describe(SSL* ssl, const boost::system::error_code& error, bool& untrusted) {
  const long verified = SSL_get_verify_result(ssl);
  untrusted = verified != X509_V_OK;
  if (untrusted) return std::string("its certificate does not verify: ") + X509_verify_cert_error_string(verified);
  return "the TLS handshake failed: " + error.message();
}

}  // namespace dnt_proxy
