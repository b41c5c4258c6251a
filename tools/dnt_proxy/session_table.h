// The server sessions of one client connection: per server host an engine
// session (its domain the host) and the connection to that server, opened
// when a request first goes there. A session ends, and its verdict is
// logged, when the client connection ends or when it is the least recently
// used one beyond the connection's limit.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "tools/dnt_proxy/forwarding.h"
#include "tools/dnt_proxy/proxy_context.h"

namespace dnt_proxy {

/// A connection to a server that requests of a session travel on.
struct Upstream {
  explicit Upstream(const boost::asio::any_io_executor& executor, Authority server)
      : stream(executor), server(std::move(server)) {}
  boost::beast::tcp_stream stream;
  boost::beast::flat_buffer buffer;
  Authority server;
  /// Responses it has carried; a connection that has is reused, and may
  /// have been closed by the server meanwhile.
  unsigned responses = 0;
};

struct ServerSession {
  Authority server;
  /// Null without an engine, or when the engine could not open one.
  std::unique_ptr<module_host::EngineSession> engine;
  std::optional<Upstream> upstream;
};

class SessionTable {
 public:
  SessionTable(ProxyContext& context, std::string client) : m_context(context), m_client(std::move(client)) {}
  /// Ends every session.
  ~SessionTable();
  SessionTable(const SessionTable&) = delete;
  SessionTable& operator=(const SessionTable&) = delete;

  /// The session with `server`, opened when there is none. References stay
  /// valid until the session ends; the session returned is the last to end.
  ServerSession& SessionWith(const Authority& server);

  const std::string& Client() const { return m_client; }

 private:
  void End(ServerSession& session);

  ProxyContext& m_context;
  std::string m_client;
  // The most recently used first, and by server.
  std::list<ServerSession> m_sessions;
  std::unordered_map<std::string, std::list<ServerSession>::iterator> m_byServer;
};

/// Logs the verdict of an engine session with `domain`.
void LogVerdict(ProxyContext& context, const std::string& client, const std::string& domain,
                module_host::EngineSession& session);

}  // namespace dnt_proxy
