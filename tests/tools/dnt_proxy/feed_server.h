// A static web server on loopback for the bases feed's tests: serves the
// files of a folder with an ETag (answering 304 when it still holds), and
// can misbehave as servers do: stall, answer 404 or 500 to everything, or
// be down.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace proxy_test {

class FeedServer {
 public:
  enum class Mode { Serve, Stall, NotFound, Fail, Down };

  /// Serves `root` on 127.0.0.1 at a free port.
  explicit FeedServer(std::filesystem::path root);
  ~FeedServer();
  FeedServer(const FeedServer&) = delete;
  FeedServer& operator=(const FeedServer&) = delete;

  /// "http://127.0.0.1:PORT/".
  std::string Url() const;
  /// Takes effect for requests read from now on.
  void SetMode(Mode mode);
  /// Answers given so far with `status`.
  unsigned Answered(unsigned status) const;

  struct Connection;

 private:
  void Listen();
  void Accept();
  void Read(const std::shared_ptr<Connection>& connection);
  void Answer(const std::shared_ptr<Connection>& connection);

  const std::filesystem::path m_root;
  boost::asio::io_context m_io;
  // While it is down, nothing else keeps the server's thread running.
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_work{m_io.get_executor()};
  boost::asio::ip::tcp::acceptor m_acceptor;
  uint16_t m_port = 0;
  Mode m_mode = Mode::Serve;  // on the server's thread only
  std::vector<std::shared_ptr<Connection>> m_stalled;
  mutable std::mutex m_lock;
  std::map<unsigned, unsigned> m_answered;
  std::thread m_thread;
};

}  // namespace proxy_test
