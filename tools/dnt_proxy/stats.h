// What the proxy has done since it started, for its dashboard and /metrics.
// The serving threads add to it as they go: atomics on the paths every
// request takes, a lock only for what names services and requests; a
// reader takes a snapshot of it all.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/dnt_proxy/feed_status.h"
#include "tools/dnt_proxy/leaf_cache.h"
#include "tools/dnt_proxy/paused_sites.h"
#include "tools/module_host/engine.h"

namespace dnt_proxy {

/// A request the engine answered in place of its server.
struct BlockedRequest {
  std::chrono::system_clock::time_point time;
  std::string method;
  std::string url;
  unsigned status = 0;
  /// The tracking service of its session; empty when the engine named none.
  std::string service;
  uint32_t category = 0;
};

/// Requests to one tracking service.
struct ServiceCount {
  uint32_t id = 0;
  std::string name;
  uint32_t category = 0;
  uint64_t requests = 0;
  uint64_t blocked = 0;
};

enum class EngineCall { Request, Response };
enum class TlsFailure { Client, Server };

/// The upper bounds, in seconds, of the engine time histogram's buckets;
/// one more bucket holds the rest.
inline constexpr std::array<double, 12> EngineTimeBounds = {25e-6, 50e-6, 100e-6, 250e-6, 500e-6, 1e-3,
                                                             2.5e-3, 5e-3,  10e-3,  25e-3,  100e-3, 1.0};

struct EngineTimes {
  std::array<uint64_t, EngineTimeBounds.size() + 1> buckets{};
  uint64_t count = 0;
  double seconds = 0;
};

/// Verdicts 0 to 3 (not detected, detected, blocked, block failed).
inline constexpr std::size_t VerdictCount = 4;

struct StatsSnapshot {
  double uptimeSeconds = 0;
  std::chrono::system_clock::time_point started;
  bool engine = false;
  uint64_t httpRequests = 0;
  uint64_t httpsRequests = 0;
  uint64_t blocked = 0;
  uint64_t modified = 0;
  int64_t sessionsOpen = 0;
  int64_t connectionsOpen = 0;
  int64_t serverConnectionsOpen = 0;
  std::array<uint64_t, VerdictCount> sessionsByVerdict{};
  /// Every service seen, the most requested first.
  std::vector<ServiceCount> services;
  /// The newest first.
  std::vector<BlockedRequest> recentBlocked;
  std::array<EngineTimes, 2> engineTimes;
  std::string basesBuiltOn;
  std::chrono::system_clock::time_point basesLoaded;
  uint64_t basesSwaps = 0;
  uint64_t basesSwapFailures = 0;
  uint64_t tunnels = 0;
  uint64_t interceptions = 0;
  /// Interceptions whose client resumed a TLS session.
  uint64_t tlsResumptions = 0;
  uint64_t tlsClientFailures = 0;
  uint64_t tlsServerFailures = 0;
  /// Set when the proxy intercepts TLS.
  std::optional<LeafCache::Counts> leaves;
  /// Set when the bases come from a feed (--update-url).
  std::optional<BasesFeedStatus> feed;
  /// Set when the engine runs: the paused sites and those seen recently.
  std::optional<SitesSnapshot> sites;
};

class ProxyStats {
 public:
  /// How many blocked requests the snapshot shows.
  static constexpr std::size_t RecentBlocked = 50;

  explicit ProxyStats(bool engine);

  void CountRequest(bool tls) { ++(tls ? m_httpsRequests : m_httpRequests); }
  void CountModified() { ++m_modified; }
  void CountBlocked(BlockedRequest request);
  void TimeEngine(EngineCall call, std::chrono::steady_clock::duration time);
  void SessionOpened() { ++m_sessionsOpen; }
  /// `verdict`: nullopt when the engine could not say.
  void SessionEnded(std::optional<uint32_t> verdict);
  void ConnectionOpened() { ++m_connectionsOpen; }
  void ConnectionClosed() { --m_connectionsOpen; }
  void ServerConnectionOpened() { ++m_serverConnectionsOpen; }
  void ServerConnectionClosed() { --m_serverConnectionsOpen; }
  int64_t ServerConnectionsOpen() const { return m_serverConnectionsOpen; }
  /// Adds `requests` requests, `blocked` of them blocked, to `service`.
  void CountTrackerRequests(const module_host::TrackingService& service, uint64_t requests, uint64_t blocked);
  void CountTunnel() { ++m_tunnels; }
  void CountInterception(bool resumed) {
    ++m_interceptions;
    if (resumed) ++m_tlsResumptions;
  }
  void CountTlsFailure(TlsFailure side) { ++(side == TlsFailure::Client ? m_tlsClientFailures : m_tlsServerFailures); }
  /// Bases were loaded, at start or by a swap; `builtOn` as the engine says.
  void BasesLoaded(const std::string& builtOn, bool swap);
  void BasesSwapFailed() { ++m_basesSwapFailures; }
  /// Bases swapped since the start: sessions begun before the last swap
  /// end at their next use.
  uint64_t BasesSwaps() const { return m_basesSwaps; }

  StatsSnapshot Take() const;

 private:
  struct AtomicTimes {
    std::array<std::atomic<uint64_t>, EngineTimeBounds.size() + 1> buckets{};
    std::atomic<uint64_t> nanoseconds{0};
  };

  const bool m_engine;
  const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
  const std::chrono::system_clock::time_point m_started = std::chrono::system_clock::now();
  std::atomic<uint64_t> m_httpRequests{0}, m_httpsRequests{0}, m_blocked{0}, m_modified{0};
  std::atomic<int64_t> m_sessionsOpen{0}, m_connectionsOpen{0}, m_serverConnectionsOpen{0};
  std::array<std::atomic<uint64_t>, VerdictCount> m_sessionsByVerdict{};
  std::array<AtomicTimes, 2> m_engineTimes;
  std::atomic<uint64_t> m_tunnels{0}, m_interceptions{0}, m_tlsResumptions{0}, m_tlsClientFailures{0}, m_tlsServerFailures{0};
  std::atomic<uint64_t> m_basesSwaps{0}, m_basesSwapFailures{0};

  mutable std::mutex m_lock;
  std::unordered_map<uint32_t, ServiceCount> m_services;
  std::deque<BlockedRequest> m_recentBlocked;
  std::string m_basesBuiltOn;
  std::chrono::system_clock::time_point m_basesLoaded;
};

}  // namespace dnt_proxy
