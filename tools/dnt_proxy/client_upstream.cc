// The part of a client connection that reaches a server: a mapped address,
// an address given in the URL, or the host name looked up; only where the
// access policy lets this client go, and never the proxy itself. An
// https:// server is talked to only once its certificate has verified.
#include <boost/asio/connect.hpp>

#include "tools/dnt_proxy/client_connection.h"
#include "tools/dnt_proxy/upstream_tls.h"

namespace dnt_proxy {

void ClientConnection::Connect(Upstream& upstream, std::function<void()> connected) {
  const Authority& server = upstream.server;
  if (const auto mapped = m_context.config.hostMap.Find(server.host)) {
    return ConnectTo(upstream, {*mapped}, true, std::move(connected));
  }
  beast::error_code error;
  const auto address = boost::asio::ip::make_address(server.host, error);
  if (!error) return ConnectTo(upstream, {tcp::endpoint(address, server.port)}, false, std::move(connected));
  if (!m_resolver) m_resolver.emplace(m_stream.get_executor());
  m_resolver->async_resolve(
      server.host, std::to_string(server.port),
      [self = shared_from_this(), &upstream, connected = std::move(connected)](
          beast::error_code error, const tcp::resolver::results_type& results) mutable {
        if (self->Closed()) return;
        if (error) return self->FailExchange(502, "cannot find " + upstream.server.host + ": " + error.message());
        std::vector<tcp::endpoint> endpoints;
        for (const auto& entry : results) endpoints.push_back(entry.endpoint());
        self->ConnectTo(upstream, std::move(endpoints), false, std::move(connected));
      });
}

DestinationRequest ClientConnection::Destination(const Upstream& upstream, const tcp::endpoint& endpoint,
                                                 bool mapped) const {
  DestinationRequest request;
  request.client = m_clientAddress;
  request.tunnel = m_tunnelServer && &upstream == &*m_tunnelServer;
  request.port = upstream.server.port;
  request.destination = endpoint;
  request.mapped = mapped;
  return request;
}

// The access policy's say on a connection; a refusal is answered and
// logged here.
bool ClientConnection::Permitted(const DestinationRequest& request) {
  const AccessDecision decision = m_context.Check(request);
  if (decision.allowed) return true;
  m_context.log.Write("refused-destination", m_url.text + " (client " + m_client + "): " + decision.reason,
                      {{"url", m_url.text}, {"client", m_client}, {"status", decision.status}, {"error", decision.reason}});
  Refuse(decision.status, decision.reason);
  return false;
}

// Every address is judged before any is tried, and the connection goes to
// the addresses judged: a name is never looked up twice.
void ClientConnection::ConnectTo(Upstream& upstream, std::vector<tcp::endpoint> endpoints, bool mapped,
                                 std::function<void()> connected) {
  for (const tcp::endpoint& endpoint : endpoints) {
    if (!Permitted(Destination(upstream, endpoint, mapped))) return;
  }
  upstream.stream.expires_after(m_context.config.connectTimeout);
  upstream.stream.Lowest().async_connect(endpoints, [self = shared_from_this(), &upstream, mapped,
                                                     connected = std::move(connected)](beast::error_code error,
                                                                                       const tcp::endpoint& endpoint) {
    if (self->Closed()) return;
    if (error == beast::error::timeout) {
      return self->FailExchange(504, "cannot connect to " + upstream.server.Text() + " within " +
                                         std::to_string(self->m_context.config.connectTimeout.count()) + " s");
    }
    if (error) return self->FailExchange(502, "cannot connect to " + upstream.server.Text() + ": " + error.message());
    // An address of the host that was not known when the proxy started
    // shows now: the connection came back to where it started from.
    DestinationRequest request = self->Destination(upstream, endpoint, mapped);
    request.local = upstream.stream.socket().local_endpoint(error).address();
    if (error) return self->FailExchange(502, "cannot connect to " + upstream.server.Text() + ": " + error.message());
    if (!self->Permitted(request)) return upstream.stream.close();
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
