// The proxy's HTTP sessions as the engine sees them: one per client address
// and server (scheme, host and port), shared by every connection of that
// client. A browser spreads the requests to one site over many connections
// to its proxy, and opens and closes them at will: a session per connection
// would show the engine a part of what a site does, and hold a script state
// per connection and server, a hundred megabytes for a day of browsing.
//
// The connections of one client are served by any of the proxy's threads:
// calls into a session are serialised, one caller at a time. A session
// ends, and its verdict is logged, when it has been idle for the idle time,
// when it is the least recently used beyond its client's or the proxy's
// bound, at its first use after the bases were swapped (it keeps the bases
// it began with until then), or when the proxy stops; an exchange under
// way keeps its session until it is over. The connections to servers stay
// with each client connection.
#pragma once

#include <boost/asio/ip/address.hpp>
#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/dnt_proxy/forwarding.h"
#include "tools/dnt_proxy/proxy_context.h"

namespace dnt_proxy {

class ServerSession {
 public:
  ServerSession(ProxyContext& context, std::string client, Authority server);
  /// Ends the session: its verdict is logged and counted.
  ~ServerSession();
  ServerSession(const ServerSession&) = delete;
  ServerSession& operator=(const ServerSession&) = delete;

  /// The session held for calls into its engine session, which is opened
  /// on the first.
  class Call {
   public:
    explicit Call(ServerSession& session);
    /// Null when the engine could not open a session (which is logged).
    module_host::EngineSession* Engine() const { return m_session.m_engine.get(); }
    /// Counts a request the engine saw. `tracked`: the engine acted on it
    /// (answered it, changed it or asked for its response), so the
    /// session's verdict names its service; `blocked`: it answered it. The
    /// session's service, when known; it stays as it is for the session's
    /// life.
    const module_host::TrackingService* CountRequest(bool tracked, bool blocked);

   private:
    std::lock_guard<std::mutex> m_lock;
    ServerSession& m_session;
  };

 private:
  void CountTracked(uint64_t blocked);

  ProxyContext& m_context;
  const std::string m_client;
  const Authority m_server;
  std::mutex m_lock;
  bool m_opened = false;
  std::unique_ptr<module_host::EngineSession> m_engine;
  // Requests the engine saw, and how many of them are counted to the
  // tracking service the verdict names: known once the engine took one of
  // them for a tracker's, or when the session ends.
  uint64_t m_requests = 0;
  uint64_t m_counted = 0;
  std::optional<module_host::TrackingService> m_service;
};

struct SessionLimits {
  std::chrono::seconds idle{60};
  std::size_t perClient = 128;
  std::size_t total = 512;
};

class SessionTable {
 public:
  SessionTable(ProxyContext& context, SessionLimits limits) : m_context(context), m_limits(limits) {}
  /// Ends the sessions left; those still in use end with their exchange.
  ~SessionTable();
  SessionTable(const SessionTable&) = delete;
  SessionTable& operator=(const SessionTable&) = delete;

  /// The session of `client` (an address) with `server` (over TLS or not), begun when
  /// there is none; safe from any thread.
  std::shared_ptr<ServerSession> Acquire(const std::string& client, const Authority& server, bool tls);

  /// Ends the sessions idle since before `now` less the idle time; one in
  /// use counts as used now.
  void EndIdle(std::chrono::steady_clock::time_point now);

  std::size_t Size() const;

 private:
  struct Entry {
    std::string key;
    std::string client;
    std::shared_ptr<ServerSession> session;
    uint64_t bases = 0;
    std::chrono::steady_clock::time_point used;
    std::list<Entry*>::iterator inRecent, inClient;
  };
  using Ended = std::vector<std::shared_ptr<ServerSession>>;

  void Touch(Entry& entry, std::chrono::steady_clock::time_point now);
  // Takes `entry` out; the session ends when `ended` goes, outside the lock.
  void Drop(Entry& entry, Ended& ended);

  ProxyContext& m_context;
  const SessionLimits m_limits;
  mutable std::mutex m_lock;
  std::unordered_map<std::string, Entry> m_entries;
  // The most recently used first: all, and by client.
  std::list<Entry*> m_recent;
  std::unordered_map<std::string, std::list<Entry*>> m_byClient;
};

/// Logs the verdict of an engine session with `domain`, and returns it;
/// nullopt when the engine failed to give it (which is logged).
std::optional<module_host::SessionVerdict> LogVerdict(ProxyContext& context, const std::string& client,
                                                      const std::string& domain, module_host::EngineSession& session);

}  // namespace dnt_proxy
