// The part of a client connection that relays bytes blind, both ways: a
// CONNECT tunnel, or a WebSocket connection once its server agreed. A
// tunnel ends when both sides have finished, when either fails, or when
// nothing has moved for the idle time.
#include <boost/asio/write.hpp>

#include "tools/dnt_proxy/client_connection.h"
#include "tools/dnt_proxy/replies.h"

namespace dnt_proxy {
namespace {

constexpr std::size_t TunnelChunk = 16 * 1024;

}  // namespace

void ClientConnection::OpenTunnel(const Authority& server) {
  m_url.server = server;
  m_url.tls = false;
  m_url.text = "CONNECT " + server.Text();
  // The port is judged before anything else happens: the tunnel may be
  // answered at once, to decrypt it.
  DestinationRequest request;
  request.client = m_clientAddress;
  request.tunnel = true;
  request.port = server.port;
  if (!Permitted(request)) return;
  const bool asked = m_context.engine && EngineAsksToSee(server);
  if (asked && m_context.interception) return Intercept(server);
  ConnectTunnel(server, [this] { Established(); });
}

// The engine sees inside a tunnel only when the proxy decrypts it; the
// question is asked, and logged, for every tunnel all the same.
bool ClientConnection::EngineAsksToSee(const Authority& server) {
  std::string asked;
  try {
    asked = m_context.engine->ProcessingRequired(server.host) ? "yes" : "no";
  } catch (const module_host::EngineError& e) {
    asked = std::string("unknown (") + e.what() + ")";
  }
  if (asked != "yes" || !m_context.interception) {
    m_context.log.Write("tunnel",
                        server.Text() + " (client " + m_client + "): relayed blind; the engine asks to see it: " + asked,
                        {{"server", server.Text()}, {"client", m_client}, {"processingRequired", asked}});
  }
  return asked == "yes";
}

void ClientConnection::ConnectTunnel(const Authority& server, std::function<void()> connected) {
  m_tunnelDomain = server.host;
  m_context.stats.CountTunnel();
  m_upstream = &m_tunnelServer.emplace(m_stream.get_executor(), server, false, m_context.stats);
  Connect(*m_upstream, std::move(connected));
}

void ClientConnection::Established() {
  m_stream.expires_after(m_context.config.idleTimeout);
  boost::asio::async_write(m_stream, boost::asio::buffer(EstablishedReply.data(), EstablishedReply.size()),
                           [self = shared_from_this()](beast::error_code error, std::size_t) {
                             if (self->Closed()) return;
                             if (error) return self->Close();
                             self->StartTunnel(*self->m_tunnelServer);
                           });
}

void ClientConnection::StartTunnel(Upstream& server) {
  m_stream.expires_never();
  server.stream.expires_never();
  m_tunnel[0] = {&m_stream, &server.stream, std::make_unique<char[]>(TunnelChunk)};
  m_tunnel[1] = {&server.stream, &m_stream, std::make_unique<char[]>(TunnelChunk)};
  m_tunnelOpenSides = 2;
  m_tunnelActivity = std::chrono::steady_clock::now();
  m_tunnelTimer.emplace(m_stream.get_executor());
  WatchTunnel();
  // Bytes read past the heads belong to the other side.
  FlushToTunnel(0, m_buffer);
  FlushToTunnel(1, server.buffer);
}

void ClientConnection::FlushToTunnel(std::size_t side, beast::flat_buffer& pending) {
  if (pending.size() == 0) return ReadTunnel(side);
  boost::asio::async_write(*m_tunnel[side].to, pending.data(),
                           [self = shared_from_this(), side, &pending](beast::error_code error, std::size_t) {
                             if (self->Closed()) return;
                             if (error) return self->EndTunnel();
                             pending.consume(pending.size());
                             self->ReadTunnel(side);
                           });
}

void ClientConnection::ReadTunnel(std::size_t side) {
  TunnelSide& tunnel = m_tunnel[side];
  tunnel.from->async_read_some(
      boost::asio::buffer(tunnel.chunk.get(), TunnelChunk),
      [self = shared_from_this(), side](beast::error_code error, std::size_t bytes) {
        if (self->Closed()) return;
        TunnelSide& tunnel = self->m_tunnel[side];
        if (error == boost::asio::error::eof && !tunnel.from->IsTls() && !tunnel.to->IsTls()) {
          // One side finished: the other learns it, and may still answer.
          beast::error_code ignored;
          tunnel.to->socket().shutdown(tcp::socket::shutdown_send, ignored);
          if (--self->m_tunnelOpenSides == 0) self->EndTunnel();
          return;
        }
        if (error) return self->EndTunnel();
        self->m_tunnelActivity = std::chrono::steady_clock::now();
        boost::asio::async_write(*tunnel.to, boost::asio::buffer(tunnel.chunk.get(), bytes),
                                 [self, side](beast::error_code error, std::size_t) {
                                   if (self->Closed()) return;
                                   if (error) return self->EndTunnel();
                                   self->ReadTunnel(side);
                                 });
      });
}

void ClientConnection::WatchTunnel() {
  const auto idleSince = m_tunnelActivity + m_context.config.idleTimeout;
  m_tunnelTimer->expires_at(idleSince);
  m_tunnelTimer->async_wait([self = shared_from_this()](beast::error_code error) {
    if (self->Closed() || error) return;
    if (std::chrono::steady_clock::now() >= self->m_tunnelActivity + self->m_context.config.idleTimeout) {
      return self->EndTunnel();
    }
    self->WatchTunnel();
  });
}

void ClientConnection::EndTunnel() {
  if (!m_tunnelDomain.empty() && m_context.engine) {
    m_context.log.Write("verdict", m_tunnelDomain + " (client " + m_client + "): not processed (tunnel)",
                        {{"session", m_tunnelDomain}, {"client", m_client}, {"verdict", "not processed"}});
  }
  Close();
}

}  // namespace dnt_proxy
