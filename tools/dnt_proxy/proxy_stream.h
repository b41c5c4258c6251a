// One connection of the proxy, to a client or to a server: TCP, or TLS over
// that TCP connection once StartTls was called. Every relay reads from and
// writes to these, so one chain of handlers serves plain HTTP and HTTP
// inside TLS alike (as Beast's "flex" example serves both); the timeouts
// stay on the TCP connection underneath.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <utility>
#include <variant>

namespace dnt_proxy {

class ProxyStream {
 public:
  using Tcp = boost::beast::tcp_stream;
  using Tls = boost::beast::ssl_stream<Tcp>;
  using executor_type = Tcp::executor_type;

  explicit ProxyStream(boost::asio::ip::tcp::socket socket) : m_stream(std::in_place_type<Tcp>, std::move(socket)) {}
  explicit ProxyStream(const executor_type& executor) : m_stream(std::in_place_type<Tcp>, executor) {}

  executor_type get_executor() noexcept { return Lowest().get_executor(); }

  /// The TCP connection, under TLS or not: timeouts, connecting, closing.
  Tcp& Lowest() {
    Tls* tls = std::get_if<Tls>(&m_stream);
    return tls ? tls->next_layer() : std::get<Tcp>(m_stream);
  }
  boost::asio::ip::tcp::socket& socket() { return Lowest().socket(); }
  template <class Duration>
  void expires_after(Duration duration) {
    Lowest().expires_after(duration);
  }
  void expires_never() { Lowest().expires_never(); }
  void close() { Lowest().close(); }

  bool IsTls() const { return std::holds_alternative<Tls>(m_stream); }
  /// Puts TLS with `context` over the TCP connection, which has no
  /// operation pending; the handshake is the caller's.
  Tls& StartTls(boost::asio::ssl::context& context) {
    Tcp tcp = std::move(std::get<Tcp>(m_stream));
    return m_stream.emplace<Tls>(std::move(tcp), context);
  }
  Tls& TlsLayer() { return std::get<Tls>(m_stream); }

  template <class Buffers, class Handler>
  void async_read_some(const Buffers& buffers, Handler&& handler) {
    std::visit([&](auto& stream) { stream.async_read_some(buffers, std::forward<Handler>(handler)); }, m_stream);
  }

  template <class Buffers, class Handler>
  void async_write_some(const Buffers& buffers, Handler&& handler) {
    std::visit([&](auto& stream) { stream.async_write_some(buffers, std::forward<Handler>(handler)); }, m_stream);
  }

 private:
  std::variant<Tcp, Tls> m_stream;
};

/// True when `error` says the other side ended the stream: a TCP end, or a
/// TLS connection that ended with or without its close_notify.
bool IsStreamEnd(const boost::system::error_code& error);

}  // namespace dnt_proxy
