// The proxy's admin endpoint (--admin, 127.0.0.1:3129 by default): a
// read-only HTTP server for people and monitoring. "/" is the dashboard, a
// page with everything it needs inside it that polls "/api/stats";
// "/metrics" is for Prometheus. Requests must name the endpoint by an IP
// address or "localhost" (so that no other site's page can read it through
// a name of its own), and only GET and HEAD are answered.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <functional>
#include <memory>

#include "tools/dnt_proxy/stats.h"

namespace dnt_proxy {

class AdminServer : public std::enable_shared_from_this<AdminServer> {
 public:
  using Snapshot = std::function<StatsSnapshot()>;

  /// Binds `endpoint` on `io`; throws boost::system::system_error.
  AdminServer(boost::asio::io_context& io, const boost::asio::ip::tcp::endpoint& endpoint, Snapshot snapshot);

  boost::asio::ip::tcp::endpoint Endpoint() const { return m_acceptor.local_endpoint(); }
  void Start();
  /// Stops accepting; on `io`'s thread.
  void Stop();

  /// For its connections.
  StatsSnapshot Take() const { return m_snapshot(); }
  uint16_t Port() const { return m_port; }
  void ConnectionClosed() { --m_open; }

 private:
  void Accept();

  boost::asio::ip::tcp::acceptor m_acceptor;
  boost::asio::steady_timer m_retry;
  Snapshot m_snapshot;
  uint16_t m_port;
  std::atomic<int> m_open{0};
};

}  // namespace dnt_proxy
