// Accepts client connections: loopback clients, and those in the networks
// allowed, up to the most served at once; beyond that, new clients wait in
// the listen queue until a connection ends. One client address holds at
// most its share of the connections: beyond it, a new one is answered 503
// at once, so that no client (nor the proxy looping into itself) takes
// every slot. Each connection is handed to
// the next of the serving threads' io_contexts in turn, and stays there.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <map>
#include <vector>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <memory>

#include "tools/dnt_proxy/proxy_context.h"

namespace dnt_proxy {

class Listener : public std::enable_shared_from_this<Listener> {
 public:
  /// Binds the configured address, on the first of `contexts`; throws
  /// boost::system::system_error.
  Listener(const std::vector<boost::asio::io_context*>& contexts, ProxyContext& context);

  boost::asio::ip::tcp::endpoint Endpoint() const { return m_acceptor.local_endpoint(); }
  void Start();
  /// No more connections are accepted; safe from any thread.
  void Stop();
  /// A client connection from `client` ended; safe from any thread.
  void ConnectionClosed(const boost::asio::ip::address& client);

 private:
  void Accept();
  void OnAccept(boost::system::error_code error, boost::asio::ip::tcp::socket socket);
  void RefuseBusyClient(boost::asio::ip::tcp::socket& socket, const boost::asio::ip::address& client);

  const std::vector<boost::asio::io_context*> m_contexts;
  std::size_t m_next = 0;
  ProxyContext& m_context;
  boost::asio::strand<boost::asio::io_context::executor_type> m_strand;
  boost::asio::ip::tcp::acceptor m_acceptor;
  boost::asio::steady_timer m_retry;
  std::size_t m_open = 0;
  std::map<boost::asio::ip::address, std::size_t> m_openByClient;
  bool m_waiting = false;
  std::atomic<bool> m_stopped{false};
};

}  // namespace dnt_proxy
