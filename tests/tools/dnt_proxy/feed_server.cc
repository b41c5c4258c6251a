#include "tests/tools/dnt_proxy/feed_server.h"

#include <fcntl.h>

#include <boost/asio/post.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <fstream>
#include <future>

namespace proxy_test {
namespace {

// The test starts programs while the server runs: they must not hold its
// sockets open, or "down" would still accept.
void KeepFromChildren(int descriptor) { fcntl(descriptor, F_SETFD, FD_CLOEXEC); }

}  // namespace

namespace fs = std::filesystem;
namespace net = boost::asio;
namespace http = boost::beast::http;
using tcp = net::ip::tcp;

struct FeedServer::Connection {
  explicit Connection(tcp::socket s) : socket(std::move(s)) {}
  tcp::socket socket;
  boost::beast::flat_buffer buffer;
  http::request<http::empty_body> request;
  http::response<http::string_body> response;
};

FeedServer::FeedServer(fs::path root) : m_root(std::move(root)), m_acceptor(m_io) {
  Listen();
  m_port = m_acceptor.local_endpoint().port();
  m_thread = std::thread([this] { m_io.run(); });
}

FeedServer::~FeedServer() {
  m_io.stop();
  m_thread.join();
}

std::string FeedServer::Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

void FeedServer::Listen() {
  const tcp::endpoint endpoint(net::ip::address_v4::loopback(), m_port);
  m_acceptor.open(endpoint.protocol());
  KeepFromChildren(m_acceptor.native_handle());
  m_acceptor.set_option(net::socket_base::reuse_address(true));
  m_acceptor.bind(endpoint);
  m_acceptor.listen();
  Accept();
}

void FeedServer::SetMode(Mode mode) {
  std::promise<void> applied;
  net::post(m_io, [&] {
    if (mode == Mode::Down && m_mode != Mode::Down) m_acceptor.close();
    if (mode != Mode::Down && m_mode == Mode::Down) Listen();
    if (mode != Mode::Stall) m_stalled.clear();
    m_mode = mode;
    applied.set_value();
  });
  applied.get_future().wait();
}

unsigned FeedServer::Answered(unsigned status) const {
  std::lock_guard guard(m_lock);
  const auto found = m_answered.find(status);
  return found == m_answered.end() ? 0 : found->second;
}

void FeedServer::Accept() {
  m_acceptor.async_accept([this](boost::system::error_code error, tcp::socket socket) {
    if (error) return;
    KeepFromChildren(socket.native_handle());
    Read(std::make_shared<Connection>(std::move(socket)));
    Accept();
  });
}

void FeedServer::Read(const std::shared_ptr<Connection>& connection) {
  connection->request = {};
  http::async_read(connection->socket, connection->buffer, connection->request,
                   [this, connection](boost::system::error_code error, std::size_t) {
                     if (!error) Answer(connection);
                   });
}

void FeedServer::Answer(const std::shared_ptr<Connection>& connection) {
  if (m_mode == Mode::Stall) {
    m_stalled.push_back(connection);  // open and silent until the mode changes
    return;
  }
  http::response<http::string_body>& response = connection->response;
  response = {};
  response.version(11);
  response.result(m_mode == Mode::Fail ? http::status::internal_server_error : http::status::not_found);
  const std::string target(connection->request.target());
  const fs::path path = m_root / target.substr(1);
  std::ifstream in(path, std::ios::binary);
  if (m_mode == Mode::Serve && target.find("..") == std::string::npos && fs::is_regular_file(path) && in) {
    response.body().assign(std::istreambuf_iterator<char>(in), {});
    const std::string etag = "\"" + std::to_string(std::hash<std::string>()(response.body())) + "\"";
    response.set(http::field::etag, etag);
    const bool unchanged = connection->request[http::field::if_none_match] == etag;
    response.result(unchanged ? http::status::not_modified : http::status::ok);
    if (unchanged) response.body().clear();
  }
  response.keep_alive(connection->request.keep_alive());
  response.prepare_payload();
  {
    std::lock_guard guard(m_lock);
    ++m_answered[response.result_int()];
  }
  http::async_write(connection->socket, response, [this, connection](boost::system::error_code error, std::size_t) {
    if (!error && connection->request.keep_alive()) Read(connection);
  });
}

}  // namespace proxy_test
