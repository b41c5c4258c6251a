#include "tools/dnt_proxy/stats.h"

#include <algorithm>

namespace dnt_proxy {

ProxyStats::ProxyStats(bool engine) : m_engine(engine) {}

void ProxyStats::CountBlocked(BlockedRequest request) {
  ++m_blocked;
  std::lock_guard guard(m_lock);
  if (m_recentBlocked.size() == RecentBlocked) m_recentBlocked.pop_back();
  m_recentBlocked.push_front(std::move(request));
}

void ProxyStats::TimeEngine(EngineCall call, std::chrono::steady_clock::duration time) {
  AtomicTimes& times = m_engineTimes[call == EngineCall::Request ? 0 : 1];
  const double seconds = std::chrono::duration<double>(time).count();
  const auto bucket = std::lower_bound(EngineTimeBounds.begin(), EngineTimeBounds.end(), seconds) - EngineTimeBounds.begin();
  ++times.buckets[static_cast<std::size_t>(bucket)];
  times.nanoseconds += static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(time).count());
}

void ProxyStats::SessionEnded(std::optional<uint32_t> verdict) {
  --m_sessionsOpen;
  if (verdict && *verdict < VerdictCount) ++m_sessionsByVerdict[*verdict];
}

void ProxyStats::CountTrackerRequests(const module_host::TrackingService& service, uint64_t requests, uint64_t blocked) {
  std::lock_guard guard(m_lock);
  ServiceCount& count = m_services[service.id];
  if (count.name.empty()) count = {service.id, service.name, service.category, 0, 0};
  count.requests += requests;
  count.blocked += blocked;
}

void ProxyStats::BasesLoaded(const std::string& builtOn, bool swap) {
  if (swap) ++m_basesSwaps;
  std::lock_guard guard(m_lock);
  m_basesBuiltOn = builtOn;
  m_basesLoaded = std::chrono::system_clock::now();
}

StatsSnapshot ProxyStats::Take() const {
  StatsSnapshot snapshot;
  snapshot.uptimeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  snapshot.started = m_started;
  snapshot.engine = m_engine;
  snapshot.httpRequests = m_httpRequests;
  snapshot.httpsRequests = m_httpsRequests;
  snapshot.blocked = m_blocked;
  snapshot.modified = m_modified;
  snapshot.sessionsOpen = m_sessionsOpen;
  snapshot.connectionsOpen = m_connectionsOpen;
  snapshot.serverConnectionsOpen = m_serverConnectionsOpen;
  for (std::size_t i = 0; i < VerdictCount; ++i) snapshot.sessionsByVerdict[i] = m_sessionsByVerdict[i];
  for (std::size_t call = 0; call < m_engineTimes.size(); ++call) {
    EngineTimes& times = snapshot.engineTimes[call];
    for (std::size_t i = 0; i < times.buckets.size(); ++i) {
      times.buckets[i] = m_engineTimes[call].buckets[i];
      times.count += times.buckets[i];
    }
    times.seconds = static_cast<double>(m_engineTimes[call].nanoseconds.load()) / 1e9;
  }
  snapshot.tunnels = m_tunnels;
  snapshot.interceptions = m_interceptions;
  snapshot.tlsResumptions = m_tlsResumptions;
  snapshot.tlsClientFailures = m_tlsClientFailures;
  snapshot.tlsServerFailures = m_tlsServerFailures;
  snapshot.basesSwaps = m_basesSwaps;
  snapshot.basesSwapFailures = m_basesSwapFailures;
  std::lock_guard guard(m_lock);
  for (const auto& [id, count] : m_services) snapshot.services.push_back(count);
  std::sort(snapshot.services.begin(), snapshot.services.end(), [](const ServiceCount& a, const ServiceCount& b) {
    return a.requests != b.requests ? a.requests > b.requests : a.id < b.id;
  });
  snapshot.recentBlocked.assign(m_recentBlocked.begin(), m_recentBlocked.end());
  snapshot.basesBuiltOn = m_basesBuiltOn;
  snapshot.basesLoaded = m_basesLoaded;
  return snapshot;
}

}  // namespace dnt_proxy
