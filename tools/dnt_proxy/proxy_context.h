// What every connection of the proxy shares: the configuration, the engine
// (none with --no-engine), the access log, the statistics, TLS towards
// servers and, with --intercept, towards clients, and the count of open
// client connections that bounds how many are served at once.
#pragma once

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstddef>
#include <functional>

#include "tools/dnt_proxy/access_log.h"
#include "tools/dnt_proxy/access_policy.h"
#include "tools/dnt_proxy/host_map.h"
#include "tools/dnt_proxy/interception.h"
#include "tools/dnt_proxy/paused_sites.h"
#include "tools/dnt_proxy/stats.h"
#include "tools/dnt_proxy/upstream_tls.h"
#include "tools/module_host/engine.h"

namespace dnt_proxy {

class SessionTable;

struct ProxyConfig {
  boost::asio::ip::tcp::endpoint listen{boost::asio::ip::address_v4::loopback(), 3128};
  /// 0: one per core.
  unsigned threads = 0;
  /// Which clients are served, and where the proxy takes them.
  AccessPolicy access;
  HostMap hostMap;
  /// Client connections served at once; more wait to be accepted.
  std::size_t maxClients = 4096;
  /// Connections to servers one client connection keeps open; the least
  /// recently used one is closed beyond this.
  std::size_t maxServersPerConnection = 64;
  /// How long a connection to a server is kept for the next request, and
  /// how many connections to servers are kept in all.
  std::chrono::seconds serverIdle{30};
  std::size_t maxServerConnections = 4096;
  /// How long an engine session may stay idle, and how many there are at
  /// most per client address and in all.
  std::chrono::seconds sessionIdle{60};
  std::size_t maxSessionsPerClient = 128;
  std::size_t maxSessions = 512;
  std::chrono::seconds connectTimeout{10};
  std::chrono::seconds idleTimeout{60};
  /// A request head, once begun (a new connection's first one: once
  /// accepted), must be whole within this.
  std::chrono::seconds headTimeout{10};
};

struct ProxyContext {
  const ProxyConfig& config;
  /// Null: every request passes untouched.
  module_host::Engine* engine;
  AccessLog& log;
  ProxyStats& stats;
  UpstreamTls& upstreamTls;
  /// Null without --intercept: every tunnel stays blind.
  Interception* interception;
  /// Where the proxy listens, as bound: requests aimed there are refused.
  boost::asio::ip::tcp::endpoint self;
  /// The engine sessions; null without an engine.
  SessionTable* sessions = nullptr;
  /// Called when the connection of a client at this address ends.
  std::function<void(const boost::asio::ip::address&)> connectionClosed;
  /// Null without an engine: the sites on which requests pass untouched.
  PausedSites* sites = nullptr;

  /// The access policy's answer for a connection to a server.
  AccessDecision Check(const DestinationRequest& request) const { return config.access.Decide(request, self); }
};

}  // namespace dnt_proxy
