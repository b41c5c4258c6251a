#include "tools/dnt_proxy/listener.h"

#include <array>
#include <boost/asio/post.hpp>
#include <string_view>

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

// A connection refused with an answer: the answer fits the new
// connection's empty send buffer, and what the client sends meanwhile is
// read and dropped until it closes (2 s at most), so that the answer is not
// lost to a reset. It takes no slot.
namespace {

class RefusedConnection : public std::enable_shared_from_this<RefusedConnection> {
 public:
  explicit RefusedConnection(tcp::socket socket) : m_socket(std::move(socket)), m_linger(m_socket.get_executor()) {}

  tcp::socket::executor_type Executor() { return m_socket.get_executor(); }

  void Answer(std::string_view answer) {
    boost::system::error_code ignored;
    m_socket.non_blocking(true, ignored);
    m_socket.write_some(net::buffer(answer.data(), answer.size()), ignored);
    m_socket.shutdown(tcp::socket::shutdown_send, ignored);
    m_linger.expires_after(std::chrono::seconds(2));
    m_linger.async_wait([self = shared_from_this()](boost::system::error_code) {
      boost::system::error_code ignored;
      self->m_socket.close(ignored);
    });
    Drop();
  }

 private:
  void Drop() {
    m_socket.async_read_some(net::buffer(m_sink), [self = shared_from_this()](boost::system::error_code error, std::size_t) {
      if (error) return static_cast<void>(self->m_linger.cancel());
      self->Drop();
    });
  }

  tcp::socket m_socket;
  net::steady_timer m_linger;
  std::array<char, 1024> m_sink;
};

}  // namespace

void Listener::RefuseBusyClient(tcp::socket& socket, const net::ip::address& client) {
  static constexpr std::string_view Busy =
      "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 55\r\n"
      "Connection: close\r\n\r\ndnt-proxy: this address holds too many connections now\n";
  const std::size_t limit = m_context.config.access.MaxClientsPerAddress();
  m_context.log.Write("refused-client",
                      client.to_string() + ": already " + std::to_string(limit) + " connections from that address",
                      {{"client", client.to_string()}, {"limit", limit}});
  // On the thread the socket was accepted for, as every connection is served.
  auto refused = std::make_shared<RefusedConnection>(std::move(socket));
  net::post(refused->Executor(), [refused] { refused->Answer(Busy); });
}

}  // namespace dnt_proxy
