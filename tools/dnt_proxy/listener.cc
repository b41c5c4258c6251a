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

void Listener::ConnectionClosed(const net::ip::address& client) {
  if (m_stopped) return;
  net::post(m_strand, [self = shared_from_this(), client] {
    --self->m_open;
    if (const auto it = self->m_openByClient.find(client); it != self->m_openByClient.end() && --it->second == 0) {
      self->m_openByClient.erase(it);
    }
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
  if (ignored || !m_context.config.access.AllowsClient(remote.address())) {
    m_context.log.Write("refused-client", remote.address().to_string(), {{"client", remote.address().to_string()}});
  } else if (m_openByClient[remote.address()] >= m_context.config.access.MaxClientsPerAddress()) {
    RefuseBusyClient(socket, remote.address());
  } else {
    socket.set_option(tcp::no_delay(true), ignored);
    ++m_open;
    ++m_openByClient[remote.address()];
    std::make_shared<ClientConnection>(std::move(socket), m_context)->Start();
  }
  Accept();
}

// The answer fits the new connection's empty send buffer: it is written at
// once, without a slot, and the connection closed.
void Listener::RefuseBusyClient(tcp::socket& socket, const net::ip::address& client) {
  static constexpr std::string_view Busy =
      "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 55\r\n"
      "Connection: close\r\n\r\ndnt-proxy: this address holds too many connections now\n";
  const std::size_t limit = m_context.config.access.MaxClientsPerAddress();
  m_context.log.Write("refused-client",
                      client.to_string() + ": already " + std::to_string(limit) + " connections from that address",
                      {{"client", client.to_string()}, {"limit", limit}});
  boost::system::error_code ignored;
  socket.non_blocking(true, ignored);
  socket.write_some(net::buffer(Busy.data(), Busy.size()), ignored);
  socket.shutdown(tcp::socket::shutdown_send, ignored);
  socket.close(ignored);
}

}  // namespace dnt_proxy
