// The proxy as a whole: the listener and its connections on a pool of
// threads, the engine sessions they share, and the signals it answers:
// SIGHUP asks for a bases update, SIGINT and SIGTERM stop it. Each thread
// runs an io_context of its own: a connection and its servers live on one
// thread, and the threads share no queue.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "tools/dnt_proxy/listener.h"
#include "tools/dnt_proxy/proxy_context.h"
#include "tools/dnt_proxy/session_table.h"

namespace dnt_proxy {

class ProxyServer {
 public:
  /// Binds the listening address; throws boost::system::system_error.
  /// `context` is all but where the proxy listens and the end of a
  /// connection, which the server adds. `basesUpdate` is called on SIGHUP
  /// (nothing when empty).
  ProxyServer(ProxyContext context, std::function<void()> basesUpdate);
  ~ProxyServer();
  ProxyServer(const ProxyServer&) = delete;
  ProxyServer& operator=(const ProxyServer&) = delete;

  /// The first thread's io_context, where the listener and the signals
  /// are.
  boost::asio::io_context& Io() { return *m_contexts.front(); }
  boost::asio::ip::tcp::endpoint Endpoint() const { return m_listener->Endpoint(); }

  /// Serves on the configured number of threads, the caller's among them,
  /// until SIGINT or SIGTERM.
  void Run();

 private:
  void AwaitSignal();
  void SweepSessions();

  // The context and the sessions outlive the io_contexts, whose destruction
  // frees the connections still open, and they use both to the last.
  ProxyContext m_context;
  std::optional<SessionTable> m_sessions;
  std::vector<std::unique_ptr<boost::asio::io_context>> m_contexts;
  std::shared_ptr<Listener> m_listener;
  boost::asio::signal_set m_signals;
  boost::asio::steady_timer m_sweep;
  std::function<void()> m_basesUpdate;
};

}  // namespace dnt_proxy
