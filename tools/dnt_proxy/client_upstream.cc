// The part of a client connection that reaches a server: a mapped address,
// an address given in the URL, or the host name looked up; never the proxy
// itself. An https:// server is talked to only once its certificate has
// verified.
#include <boost/asio/connect.hpp>

#include "tools/dnt_proxy/client_connection.h"
#include "tools/dnt_proxy/upstream_tls.h"

namespace dnt_proxy {

void ClientConnection::Connect(Upstream& upstream, std::function<void()> connected) {
  const Authority& server = upstream.server;
  if (const auto mapped = m_context.config.hostMap.Find(server.host)) {
    return ConnectTo(upstream, {*mapped}, std::move(connected));
  }
  beast::error_code error;
  const auto address = boost::asio::ip::make_address(server.host, error);
  if (!error) return ConnectTo(upstream, {tcp::endpoint(address, server.port)}, std::move(connected));
  if (!m_resolver) m_resolver.emplace(m_stream.get_executor());
  m_resolver->async_resolve(
      server.host, std::to_string(server.port),
      [self = shared_from_this(), &upstream, connected = std::move(connected)](
          beast::error_code error, const tcp::resolver::results_type& results) mutable {
        if (self->Closed()) return;
        if (error) return self->FailExchange(502, "cannot find " + upstream.server.host + ": " + error.message());
        std::vector<tcp::endpoint> endpoints;
        for (const auto& entry : results) endpoints.push_back(entry.endpoint());
        self->ConnectTo(upstream, std::move(endpoints), std::move(connected));
      });
}

void ClientConnection::ConnectTo(Upstream& upstream, std::vector<tcp::endpoint> endpoints,
                                 std::function<void()> connected) {
  for (const tcp::endpoint& endpoint : endpoints) {
    if (m_context.IsSelf(endpoint)) return Refuse(508, "the request is aimed at the proxy itself");
  }
  upstream.stream.expires_after(m_context.config.connectTimeout);
  upstream.stream.Lowest().async_connect(endpoints, [self = shared_from_this(), &upstream, connected = std::move(connected)](
                                               beast::error_code error, const tcp::endpoint&) {
    if (self->Closed()) return;
    if (error == beast::error::timeout) {
      return self->FailExchange(504, "cannot connect to " + upstream.server.Text() + " within " +
                                         std::to_string(self->m_context.config.connectTimeout.count()) + " s");
    }
    if (error) return self->FailExchange(502, "cannot connect to " + upstream.server.Text() + ": " + error.message());
    upstream.stream.socket().set_option(tcp::no_delay(true), error);
    if (upstream.tls) return self->HandshakeWithServer(upstream, std::move(connected));
    connected();
  });
}

void ClientConnection::HandshakeWithServer(Upstream& upstream, std::function<void()> connected) {
  auto& tls = upstream.stream.StartTls(m_context.upstreamTls.Context());
  try {
    UpstreamTls::Prepare(tls.native_handle(), upstream.server.host);
  } catch (const std::exception& e) {
    return FailExchange(502, upstream.server.Text() + ": " + e.what());
  }
  upstream.stream.expires_after(m_context.config.connectTimeout);
  tls.async_handshake(boost::asio::ssl::stream_base::client, [self = shared_from_this(), &upstream,
                                                              connected = std::move(connected)](beast::error_code error) {
    if (self->Closed()) return;
    if (!error) return connected();
    self->m_context.stats.CountTlsFailure(TlsFailure::Server);
    if (error == beast::error::timeout) {
      return self->FailExchange(504, "no TLS handshake with " + upstream.server.Text() + " within " +
                                         std::to_string(self->m_context.config.connectTimeout.count()) + " s");
    }
    bool untrusted = false;
    const std::string why = UpstreamTls::Describe(upstream.stream.TlsLayer().native_handle(), error, untrusted);
    self->FailExchange(502, "the server " + upstream.server.Text() + " was not talked to: " + why +
                                (untrusted ? ". Nothing was sent to it." : ""));
  });
}

}  // namespace dnt_proxy
