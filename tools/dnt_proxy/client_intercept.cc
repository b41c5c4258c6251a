// The part of a client connection that decrypts a tunnel the engine asks to
// see: the tunnel is granted at once, the client's TLS handshake is
// answered with a leaf the local authority signed for the name it asked
// for, and the requests inside then take the same road as plain ones, to
// the server over TLS of its own. A client that does not begin with a TLS
// handshake gets its tunnel relayed blind.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <boost/asio/ssl/error.hpp>
#include <boost/asio/write.hpp>

#include "tools/dnt_proxy/client_connection.h"
#include "tools/dnt_proxy/replies.h"

namespace dnt_proxy {
namespace {

// The first byte of a TLS record that carries a handshake.
constexpr unsigned char HandshakeRecord = 0x16;
constexpr std::size_t HelloReadSize = 4096;

unsigned char FirstByte(const beast::flat_buffer& buffer) {
  return *static_cast<const unsigned char*>(buffer.data().data());
}

// The client sent an alert: it did not accept the leaf.
bool IsAlertFromPeer(const beast::error_code& error) {
  return error.category() == boost::asio::error::get_ssl_category() &&
         ERR_GET_REASON(static_cast<unsigned long>(error.value())) >= SSL_AD_REASON_OFFSET;
}

}  // namespace

void ClientConnection::Intercept(const Authority& server) {
  m_handshake.connectHost = server.host;
  m_stream.expires_after(m_context.config.idleTimeout);
  boost::asio::async_write(m_stream, boost::asio::buffer(EstablishedReply.data(), EstablishedReply.size()),
                           [self = shared_from_this(), server](beast::error_code error, std::size_t) {
                             if (self->Closed()) return;
                             if (error) return self->Close();
                             self->ReadClientHello(server);
                           });
}

void ClientConnection::ReadClientHello(const Authority& server) {
  if (m_buffer.size() != 0) return OnClientHello(server);
  m_stream.async_read_some(m_buffer.prepare(HelloReadSize),
                           [self = shared_from_this(), server](beast::error_code error, std::size_t bytes) {
                             if (self->Closed()) return;
                             if (error) return self->Close();
                             self->m_buffer.commit(bytes);
                             self->OnClientHello(server);
                           });
}

void ClientConnection::OnClientHello(const Authority& server) {
  if (FirstByte(m_buffer) != HandshakeRecord) {
    m_context.log.Write("tunnel",
                        server.Text() + " (client " + m_client + "): relayed blind; the client does not speak TLS in it",
                        {{"server", server.Text()}, {"client", m_client}, {"processingRequired", "yes"}});
    return ConnectTunnel(server, [this] { StartTunnel(*m_tunnelServer); });
  }
  auto& tls = m_stream.StartTls(m_context.interception->Context());
  Interception::Attach(tls.native_handle(), m_handshake);
  m_stream.expires_after(m_context.config.idleTimeout);
  // The bytes read so far begin the handshake.
  tls.async_handshake(boost::asio::ssl::stream_base::server, m_buffer.data(),
                      [self = shared_from_this(), server](beast::error_code error, std::size_t) {
                        self->OnClientHandshake(error, server);
                      });
}

void ClientConnection::OnClientHandshake(beast::error_code error, const Authority& server) {
  if (Closed()) return;
  m_buffer.clear();
  if (error) {
    m_context.stats.CountTlsFailure(TlsFailure::Client);
    std::string why = m_handshake.problem;
    if (why.empty()) {
      why = IsAlertFromPeer(error) ? "the client refused the certificate made for " + m_handshake.name + ": " + error.message()
                                   : "the TLS handshake failed: " + error.message();
    }
    m_context.log.Write("tls-client-error", server.Text() + " (client " + m_client + "): " + why,
                        {{"server", server.Text()}, {"client", m_client}, {"error", why}});
    return Close();
  }
  // The server comes from the tunnel, never from the leaf: a handshake that
  // resumes a session has none made.
  m_intercepted = Authority{m_handshake.name.empty() ? server.host : m_handshake.name, server.port};
  const bool resumed = SSL_session_reused(m_stream.TlsLayer().native_handle()) == 1;
  m_context.stats.CountInterception(resumed);
  m_context.log.Write("intercept",
                      m_intercepted->Text() + " (client " + m_client + "): decrypted for the engine" +
                          (resumed ? ", its TLS session resumed" : ""),
                      {{"server", m_intercepted->Text()}, {"client", m_client}, {"resumed", resumed}});
  NextRequest();
}

}  // namespace dnt_proxy
