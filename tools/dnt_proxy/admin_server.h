// The proxy's admin endpoint (--admin, 127.0.0.1:3129 by default): an HTTP
// server for people and monitoring. "/" is the dashboard, a page with
// everything it needs inside it that polls "/api/stats"; "/metrics" is for
// Prometheus; "/api/paused" lists the sites on which protection is paused.
// Requests must name the endpoint by an IP address or "localhost" (so that
// no other site's page can read it through a name of its own). Everything
// is read-only but "POST /api/pause", which pauses or resumes a site: it
// takes the token made at start, which only the dashboard page holds, and
// no request from another origin's page.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <functional>
#include <memory>

#include <string>

#include "tools/dnt_proxy/access_log.h"
#include "tools/dnt_proxy/paused_sites.h"
#include "tools/dnt_proxy/stats.h"

namespace dnt_proxy {

class AdminServer : public std::enable_shared_from_this<AdminServer> {
 public:
  using Snapshot = std::function<StatsSnapshot()>;

  /// Binds `endpoint` on `io`; throws boost::system::system_error.
  /// `sites`: null when there is nothing to pause (no engine); pauses are
  /// logged to `log`.
  AdminServer(boost::asio::io_context& io, const boost::asio::ip::tcp::endpoint& endpoint, Snapshot snapshot,
              PausedSites* sites, AccessLog& log);

  boost::asio::ip::tcp::endpoint Endpoint() const { return m_acceptor.local_endpoint(); }
  void Start();
  /// Stops accepting; on `io`'s thread.
  void Stop();

  /// For its connections.
  StatsSnapshot Take() const { return m_snapshot(); }
  uint16_t Port() const { return m_port; }
  void ConnectionClosed() { --m_open; }
  /// The dashboard page, which holds the admin token.
  const std::string& Page() const { return m_page; }
  /// Whether `token` is the one made at start.
  bool Authorized(std::string_view token) const;
  PausedSites* Sites() const { return m_sites; }
  AccessLog& Log() const { return m_log; }

 private:
  void Accept();

  boost::asio::ip::tcp::acceptor m_acceptor;
  boost::asio::steady_timer m_retry;
  Snapshot m_snapshot;
  uint16_t m_port;
  std::atomic<int> m_open{0};
  PausedSites* m_sites;
  AccessLog& m_log;
  const std::string m_token;
  const std::string m_page;
};

}  // namespace dnt_proxy
