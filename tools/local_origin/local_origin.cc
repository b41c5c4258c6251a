#include "tools/local_origin/local_origin.h"

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "tools/net_stream/tcp_or_tls_stream.h"

namespace local_origin {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

constexpr std::size_t ChunkSize = 64 * 1024;
constexpr auto Idle = std::chrono::seconds(60);

const std::array<char, ChunkSize>& Filler() {
  static const std::array<char, ChunkSize> filler = [] {
    std::array<char, ChunkSize> bytes;
    bytes.fill('x');
    return bytes;
  }();
  return filler;
}

std::string PathOf(std::string_view target) {
  if (const auto scheme = target.find("://"); scheme != std::string_view::npos) {
    const auto path = target.find('/', scheme + 3);
    target = path == std::string_view::npos ? std::string_view("/") : target.substr(path);
  }
  return std::string(target.substr(0, target.find('?')));
}

}  // namespace

struct LocalOrigin::Server {
  net::io_context context;
  tcp::acceptor acceptor{net::make_strand(context)};
  std::optional<net::ssl::context> tls;
  std::vector<std::thread> threads;
  mutable std::mutex lock;
  std::map<std::string, Page> pages;
  bool recording = true;
  std::function<void(const ReceivedRequest&)> observer;
  std::vector<ReceivedRequest> received;
  uint64_t connections = 0;

  void Accept();
  void Record(const ReceivedRequest& request) {
    std::function<void(const ReceivedRequest&)> notify;
    {
      std::lock_guard guard(lock);
      if (recording) received.push_back(request);
      notify = observer;
    }
    if (notify) notify(request);
  }
  std::optional<Page> PageAt(const std::string& path) const {
    std::lock_guard guard(lock);
    const auto found = pages.find(path);
    return found == pages.end() ? std::nullopt : std::optional<Page>(found->second);
  }
};

namespace {

// One accepted connection, over TCP or TLS: reads each request whole (the
// body in pieces it drops), records it and answers.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, LocalOrigin::Server& server, uint64_t number) : m_stream(std::move(socket)), m_server(server) {
    m_request.connection = number;
  }

  void Start() {
    if (!m_server.tls) return ReadHeader();
    Lowest().expires_after(Idle);
    m_stream.StartTls(*m_server.tls).async_handshake(net::ssl::stream_base::server,
                                                       [self = shared_from_this()](beast::error_code error) {
                                                         if (!error) self->ReadHeader();
                                                       });
  }

 private:
  void ReadHeader() {
    m_parser.emplace();
    // boost::none would read as a limit of nothing here.
    m_parser->body_limit(std::numeric_limits<std::uint64_t>::max());
    const uint64_t connection = m_request.connection;
    m_request = ReceivedRequest();
    m_request.connection = connection;
    Lowest().expires_after(Idle);
    http::async_read_header(m_stream, m_buffer, *m_parser,
                            [self = shared_from_this()](beast::error_code error, std::size_t) {
                              if (!error) self->OnHeader();
                            });
  }

  void OnHeader() {
    const auto& header = m_parser->get();
    m_request.method = std::string(header.method_string());
    m_request.target = std::string(header.target());
    for (const auto& field : header) {
      m_request.fields.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    if (!beast::iequals(header[http::field::expect], "100-continue")) return ReadBody();
    auto goOn = std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
    http::async_write(m_stream, *goOn, [self = shared_from_this(), goOn](beast::error_code error, std::size_t) {
      if (!error) self->ReadBody();
    });
  }

  void ReadBody() {
    if (m_parser->is_done()) return Answer();
    auto& body = m_parser->get().body();
    body.data = m_chunk.data();
    body.size = m_chunk.size();
    http::async_read_some(m_stream, m_buffer, *m_parser,
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                            if (error == http::error::need_buffer) error = {};
                            if (error) return;
                            self->m_request.bodyBytes += self->m_chunk.size() - self->m_parser->get().body().size;
                            self->ReadBody();
                          });
  }

  void Answer() {
    m_server.Record(m_request);
    const std::string path = PathOf(m_request.target);
    if (path == "/silent") return AwaitClose();
    if (path == "/websocket" && m_parser->upgrade()) return SwitchToEcho();
    if (path.rfind("/stream/", 0) == 0) return Stream(std::strtoull(path.c_str() + 8, nullptr, 10));
    auto response = std::make_shared<http::response<http::string_body>>(http::status::ok, 11);
    response->set(http::field::server, "local-origin");
    if (const auto page = m_server.PageAt(path)) {
      response->set(http::field::content_type, page->contentType);
      for (const auto& [name, value] : page->fields) response->insert(name, value);
      response->body() = page->body;
    } else {
      response->set(http::field::content_type, "text/plain; charset=utf-8");
      response->set(http::field::set_cookie, "seen=1; Path=/");
      response->body() = "origin: " + m_request.method + " " + m_request.target + "\n";
    }
    const bool untilClose = path == "/close";
    if (untilClose) {
      response->keep_alive(false);
    } else {
      response->keep_alive(m_parser->keep_alive());
      response->prepare_payload();
    }
    http::async_write(m_stream, *response,
                      [self = shared_from_this(), response, untilClose](beast::error_code error, std::size_t) {
                        self->AfterAnswer(error, untilClose || !response->keep_alive());
                      });
  }

  void AfterAnswer(beast::error_code error, bool close) {
    if (error || close) {
      Lowest().socket().shutdown(tcp::socket::shutdown_send, error);
      return;
    }
    ReadHeader();
  }

  // Holds the connection without a word until the client goes.
  void AwaitClose() {
    Lowest().expires_never();
    m_stream.async_read_some(net::buffer(m_chunk), [self = shared_from_this()](beast::error_code, std::size_t) {});
  }

  void SwitchToEcho() {
    auto switching = std::make_shared<http::response<http::empty_body>>(http::status::switching_protocols, 11);
    switching->set(http::field::upgrade, "websocket");
    switching->set(http::field::connection, "upgrade");
    http::async_write(m_stream, *switching, [self = shared_from_this(), switching](beast::error_code error, std::size_t) {
      if (!error) self->Echo();
    });
  }

  void Echo() {
    Lowest().expires_after(Idle);
    if (m_buffer.size() != 0) return EchoBuffered();
    m_stream.async_read_some(m_buffer.prepare(m_chunk.size()), [self = shared_from_this()](beast::error_code error,
                                                                                           std::size_t bytes) {
      if (error) return;
      self->m_buffer.commit(bytes);
      self->EchoBuffered();
    });
  }

  void EchoBuffered() {
    net::async_write(m_stream, m_buffer.data(), [self = shared_from_this()](beast::error_code error, std::size_t) {
      if (error) return;
      self->m_buffer.consume(self->m_buffer.size());
      self->Echo();
    });
  }

  void Stream(uint64_t size) {
    m_streamLeft = size;
    m_streamResponse.emplace(http::status::ok, 11);
    m_streamResponse->set(http::field::content_type, "application/octet-stream");
    m_streamResponse->chunked(true);
    m_streamResponse->keep_alive(m_parser->keep_alive());
    m_streamWriter.emplace(*m_streamResponse);
    http::async_write_header(m_stream, *m_streamWriter,
                             [self = shared_from_this()](beast::error_code error, std::size_t) {
                               if (!error) self->StreamPiece();
                             });
  }

  void StreamPiece() {
    auto& body = m_streamResponse->body();
    const std::size_t piece = static_cast<std::size_t>(std::min<uint64_t>(m_streamLeft, ChunkSize));
    body.data = piece ? const_cast<char*>(Filler().data()) : nullptr;
    body.size = piece;
    body.more = piece != 0;
    m_streamLeft -= piece;
    Lowest().expires_after(Idle);
    http::async_write(m_stream, *m_streamWriter, [self = shared_from_this()](beast::error_code error, std::size_t) {
      if (error == http::error::need_buffer) error = {};
      if (error) return;
      if (self->m_streamWriter->is_done()) return self->AfterAnswer(error, !self->m_streamResponse->keep_alive());
      self->StreamPiece();
    });
  }

  beast::tcp_stream& Lowest() { return m_stream.Lowest(); }

  net_stream::TcpOrTlsStream m_stream;
  LocalOrigin::Server& m_server;
  beast::flat_buffer m_buffer;
  std::optional<http::request_parser<http::buffer_body>> m_parser;
  std::array<char, 16 * 1024> m_chunk;
  ReceivedRequest m_request;
  uint64_t m_streamLeft = 0;
  std::optional<http::response<http::buffer_body>> m_streamResponse;
  std::optional<http::response_serializer<http::buffer_body>> m_streamWriter;
};

}  // namespace

void LocalOrigin::Server::Accept() {
  acceptor.async_accept(net::make_strand(context), [this](beast::error_code error, tcp::socket socket) {
    if (error == net::error::operation_aborted) return;
    if (!error) {
      uint64_t number;
      {
        std::lock_guard guard(lock);
        number = ++connections;
      }
      std::make_shared<Connection>(std::move(socket), *this, number)->Start();
    }
    Accept();
  });
}

LocalOrigin::LocalOrigin(uint16_t port, unsigned threads, const std::optional<TlsIdentity>& tls)
    : m_server(std::make_shared<Server>()) {
  if (tls) {
    m_server->tls.emplace(net::ssl::context::tls_server);
    m_server->tls->use_certificate_chain_file(tls->certificateChain);
    m_server->tls->use_private_key_file(tls->key, net::ssl::context::pem);
  }
  const tcp::endpoint endpoint(net::ip::address_v4::loopback(), port);
  m_server->acceptor.open(endpoint.protocol());
  m_server->acceptor.set_option(net::socket_base::reuse_address(true));
  m_server->acceptor.bind(endpoint);
  m_server->acceptor.listen(net::socket_base::max_listen_connections);
  m_server->Accept();
  for (unsigned i = 0; i < std::max(threads, 1u); ++i) {
    m_server->threads.emplace_back([server = m_server.get()] { server->context.run(); });
  }
}

LocalOrigin::~LocalOrigin() {
  m_server->context.stop();
  for (auto& thread : m_server->threads) thread.join();
}

uint16_t LocalOrigin::Port() const { return m_server->acceptor.local_endpoint().port(); }

void LocalOrigin::Serve(const std::string& path, Page page) {
  std::lock_guard guard(m_server->lock);
  m_server->pages[path] = std::move(page);
}

void LocalOrigin::SetRecording(bool recording) {
  std::lock_guard guard(m_server->lock);
  m_server->recording = recording;
}

void LocalOrigin::SetObserver(std::function<void(const ReceivedRequest&)> observer) {
  std::lock_guard guard(m_server->lock);
  m_server->observer = std::move(observer);
}

std::vector<ReceivedRequest> LocalOrigin::Received() const {
  std::lock_guard guard(m_server->lock);
  return m_server->received;
}

uint64_t LocalOrigin::Connections() const {
  std::lock_guard guard(m_server->lock);
  return m_server->connections;
}

}  // namespace local_origin
