// A TCP connection, or TLS over it once StartTls was called: the proxy's
// connections to clients and servers, the local origin's, and the bases
// feed client's. Code that reads and writes through it serves plain HTTP and
// HTTP inside TLS alike with one chain of handlers (as Beast's "flex"
// example does); the timeouts stay on the TCP connection underneath.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <array>
#include <memory>
#include <utility>
#include <variant>

namespace net_stream {

class TcpOrTlsStream {
 public:
  using Tcp = boost::beast::tcp_stream;
  using Tls = boost::beast::ssl_stream<Tcp>;
  using executor_type = Tcp::executor_type;

  explicit TcpOrTlsStream(boost::asio::ip::tcp::socket socket) : m_stream(std::in_place_type<Tcp>, std::move(socket)) {}
  explicit TcpOrTlsStream(const executor_type& executor) : m_stream(std::in_place_type<Tcp>, executor) {}

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

  // Reads and writes take any handler and buffer sequence, as Beast's
  // algorithms expect, but hand the TCP and TLS layers one handler type and
  // one buffer type: those layers' operations are then compiled once, in
  // tcp_or_tls_stream.cc, instead of once for every handler that uses them.
  template <class Buffers, class Handler>
  void async_read_some(const Buffers& buffers, Handler&& handler) {
    ReadSome(BufferList<boost::asio::mutable_buffer>(buffers), IoDone(std::forward<Handler>(handler)));
  }

  template <class Buffers, class Handler>
  void async_write_some(const Buffers& buffers, Handler&& handler) {
    WriteSome(BufferList<boost::asio::const_buffer>(buffers), IoDone(std::forward<Handler>(handler)));
  }

 private:
  // The first buffers of a sequence. A read or write may move fewer bytes
  // than it was offered, and Beast's algorithms go on with the rest.
  template <class Buffer>
  class BufferList {
   public:
    template <class Buffers>
    explicit BufferList(const Buffers& buffers) {
      auto end = boost::asio::buffer_sequence_end(buffers);
      for (auto it = boost::asio::buffer_sequence_begin(buffers); it != end && m_count < m_buffers.size(); ++it) {
        const Buffer buffer(*it);
        if (buffer.size() != 0) m_buffers[m_count++] = buffer;
      }
    }
    const Buffer* begin() const { return m_buffers.data(); }
    const Buffer* end() const { return m_buffers.data() + m_count; }

   private:
    std::array<Buffer, 16> m_buffers{};
    std::size_t m_count = 0;
  };

  // A read's or write's completion handler, whatever its type. It runs on
  // the stream's executor: a handler's own bound executor would be lost, and
  // the handlers of this stream's users bind none.
  class IoDone {
   public:
    template <class Handler>
    explicit IoDone(Handler&& handler)
        : m_call(std::make_unique<Call<std::decay_t<Handler>>>(std::forward<Handler>(handler))) {}
    void operator()(boost::system::error_code error, std::size_t bytes) {
      std::unique_ptr<CallBase> call = std::move(m_call);
      call->Run(error, bytes);
    }

   private:
    struct CallBase {
      virtual ~CallBase() = default;
      virtual void Run(boost::system::error_code error, std::size_t bytes) = 0;
    };
    template <class Handler>
    struct Call final : CallBase {
      explicit Call(Handler&& handler) : handler(std::move(handler)) {}
      void Run(boost::system::error_code error, std::size_t bytes) override { handler(error, bytes); }
      Handler handler;
    };
    std::unique_ptr<CallBase> m_call;
  };

  void ReadSome(const BufferList<boost::asio::mutable_buffer>& buffers, IoDone done);
  void WriteSome(const BufferList<boost::asio::const_buffer>& buffers, IoDone done);

  std::variant<Tcp, Tls> m_stream;
};

/// True when `error` says the other side ended the stream: a TCP end, or a
/// TLS connection that ended with or without its close_notify.
bool IsStreamEnd(const boost::system::error_code& error);

}  // namespace net_stream
