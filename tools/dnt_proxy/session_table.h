// The server sessions of one client connection: per server host an engine
// session (its domain the host) and the connection to that server, opened
// when a request first goes there. A session ends, and its verdict is
// logged, when the client connection ends or when it is the least recently
// used one beyond the connection's limit.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "tools/dnt_proxy/forwarding.h"
#include "tools/dnt_proxy/proxy_context.h"
#include "tools/dnt_proxy/proxy_stream.h"

namespace dnt_proxy {

/// A connection to a server that requests of a session travel on.
struct Upstream {
  Upstream(const boost::asio::any_io_executor& executor, Authority server, bool tls)
      : stream(executor), server(std::move(server)), tls(tls) {}
  ProxyStream stream;
  boost::beast::flat_buffer buffer;
  Authority server;
  /// Reached over TLS, once connected.
  bool tls;
  /// Responses it has carried; a connection that has is reused, and may
  /// have been closed by the server meanwhile.
  unsigned responses = 0;
};

struct ServerSession {
  Authority server;
  bool tls = false;
  /// Null without an engine, or when the engine could not open one.
  std::unique_ptr<module_host::EngineSession> engine;
  std::optional<Upstream> upstream;
  /// Requests the engine saw, and how many of them are counted to the
  /// tracking service the session's verdict names: known once the engine
  /// took one of them for a tracker's, or when the session ends.
  uint64_t requests = 0;
  uint64_t counted = 0;
  std::optional<module_host::TrackingService> service;
};

class SessionTable {
 public:
  SessionTable(ProxyContext& context, std::string client) : m_context(context), m_client(std::move(client)) {}
  /// Ends every session.
  ~SessionTable();
  SessionTable(const SessionTable&) = delete;
  SessionTable& operator=(const SessionTable&) = delete;

  /// The session with `server` (over TLS or not), opened when there is
  /// none. References stay valid until the session ends; the session
  /// returned is the last to end.
  ServerSession& SessionWith(const Authority& server, bool tls);

  /// Counts a request of `session` that the engine saw. `tracked`: the
  /// engine acted on it (answered it, changed it or asked for its
  /// response), so the session's verdict names its service; `blocked`: it
  /// answered it. The session's service, when known.
  const module_host::TrackingService* CountRequest(ServerSession& session, bool tracked, bool blocked);

  const std::string& Client() const { return m_client; }

 private:
  void End(ServerSession& session);
  void CountTracked(ServerSession& session, uint64_t blocked);

  ProxyContext& m_context;
  std::string m_client;
  // The most recently used first, and by server.
  std::list<ServerSession> m_sessions;
  std::unordered_map<std::string, std::list<ServerSession>::iterator> m_byServer;
};

/// Logs the verdict of an engine session with `domain`, and returns it;
/// nullopt when the engine failed to give it (which is logged).
std::optional<module_host::SessionVerdict> LogVerdict(ProxyContext& context, const std::string& client,
                                                      const std::string& domain, module_host::EngineSession& session);

}  // namespace dnt_proxy
