#include "tools/dnt_proxy/listener.h"

#include <boost/asio/post.hpp>

#include "tools/dnt_proxy/client_connection.h"

namespace dnt_proxy {

namespace net = boost::asio;
using tcp = net::ip::tcp;

Listener::Listener(const std::vector<net::io_context*>& contexts, ProxyContext& context)
    : m_contexts(contexts),
      m_context(context),
      m_strand(net::make_strand(*contexts.front())),
      m_acceptor(m_strand),
      m_retry(m_strand) {
  const tcp::endpoint& endpoint = context.config.listen;
  m_acceptor.open(endpoint.protocol());
  m_acceptor.set_option(net::socket_base::reuse_address(true));
  m_acceptor.bind(endpoint);
  m_acceptor.listen(net::socket_base::max_listen_connections);
}

void Listener::Start() {
  net::post(m_strand, [self = shared_from_this()] { self->Accept(); });
}

void Listener::Stop() {
  m_stopped = true;
  net::post(m_strand, [self = shared_from_this()] {
    boost::system::error_code ignored;
    self->m_acceptor.close(ignored);
    self->m_retry.cancel();
  });
}

void Listener::ConnectionClosed() {
  if (m_stopped) return;
  net::post(m_strand, [self = shared_from_this()] {
    --self->m_open;
    if (self->m_waiting && self->m_open < self->m_context.config.maxClients) {
      self->m_waiting = false;
      self->Accept();
    }
  });
}

void Listener::Accept() {
  if (m_stopped) return;
  if (m_open >= m_context.config.maxClients) {
    m_waiting = true;
    return;
  }
  net::io_context& next = *m_contexts[m_next++ % m_contexts.size()];
  m_acceptor.async_accept(next, [self = shared_from_this()](boost::system::error_code error, tcp::socket socket) {
    self->OnAccept(error, std::move(socket));
  });
}

void Listener::OnAccept(boost::system::error_code error, tcp::socket socket) {
  if (m_stopped || error == net::error::operation_aborted) return;
  if (error) {
    // Out of descriptors, most likely: try again in a moment.
    m_context.log.Write("accept-error", error.message(), {{"error", error.message()}});
    m_retry.expires_after(std::chrono::milliseconds(100));
    m_retry.async_wait([self = shared_from_this()](boost::system::error_code error) {
      if (!error) self->Accept();
    });
    return;
  }
  boost::system::error_code ignored;
  const tcp::endpoint remote = socket.remote_endpoint(ignored);
  if (ignored || !m_context.config.clients.Allows(remote.address())) {
    m_context.log.Write("refused-client", remote.address().to_string(), {{"client", remote.address().to_string()}});
  } else {
    socket.set_option(tcp::no_delay(true), ignored);
    ++m_open;
    std::make_shared<ClientConnection>(std::move(socket), m_context)->Start();
  }
  Accept();
}

}  // namespace dnt_proxy
