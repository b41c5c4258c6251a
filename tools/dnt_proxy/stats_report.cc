#include "tools/dnt_proxy/stats_report.h"

#include <algorithm>
#include <ctime>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>

#include "do_not_track/categories.h"

namespace dnt_proxy {
namespace {

using nlohmann::json;

constexpr uint32_t FirstCategory = dnt::category::SocialNetwork;
constexpr uint32_t LastCategory = dnt::category::WebBug;
constexpr const char* CallNames[] = {"request", "response"};

std::string NameOr(const char* name, uint32_t value) { return name ? name : std::to_string(value); }

std::string UtcText(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

double UnixSeconds(std::chrono::system_clock::time_point time) {
  return std::chrono::duration<double>(time.time_since_epoch()).count();
}

// The upper bound of the bucket that holds the `quantile` of the calls; 0
// without calls, the last bound for calls beyond it.
double Quantile(const EngineTimes& times, double quantile) {
  if (times.count == 0) return 0;
  const double rank = quantile * static_cast<double>(times.count);
  uint64_t seen = 0;
  for (std::size_t i = 0; i < EngineTimeBounds.size(); ++i) {
    seen += times.buckets[i];
    if (static_cast<double>(seen) >= rank) return EngineTimeBounds[i];
  }
  return EngineTimeBounds.back();
}

struct CategoryCount {
  uint64_t requests = 0;
  uint64_t blocked = 0;
};

std::array<CategoryCount, LastCategory + 1> ByCategory(const StatsSnapshot& snapshot) {
  std::array<CategoryCount, LastCategory + 1> counts{};
  for (const ServiceCount& service : snapshot.services) {
    if (service.category > LastCategory) continue;
    counts[service.category].requests += service.requests;
    counts[service.category].blocked += service.blocked;
  }
  return counts;
}

json TimesJson(const EngineTimes& times) {
  return {{"calls", times.count},
          {"seconds", times.seconds},
          {"p50Seconds", Quantile(times, 0.5)},
          {"p99Seconds", Quantile(times, 0.99)}};
}

json TlsJson(const StatsSnapshot& snapshot) {
  json tls = {{"intercepting", snapshot.leaves.has_value()},
              {"blindTunnels", snapshot.tunnels},
              {"interceptions", snapshot.interceptions},
              {"resumptions", snapshot.tlsResumptions},
              {"clientFailures", snapshot.tlsClientFailures},
              {"serverFailures", snapshot.tlsServerFailures}};
  if (snapshot.leaves) {
    tls["leafCache"] = {{"size", snapshot.leaves->size},
                        {"capacity", snapshot.leaves->capacity},
                        {"minted", snapshot.leaves->minted},
                        {"hits", snapshot.leaves->hits}};
  }
  return tls;
}

// Prometheus's text format: one metric's help and type, then its samples.
class Metrics {
 public:
  Metrics() { m_out << std::setprecision(15); }

  void Family(const char* name, const char* type, const char* help) {
    m_out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
  }
  template <class Value>
  void Sample(const std::string& name, const std::string& labels, Value value) {
    m_out << name;
    if (!labels.empty()) m_out << '{' << labels << '}';
    m_out << ' ' << value << '\n';
  }
  template <class Value>
  void Single(const char* name, const char* type, const char* help, Value value) {
    Family(name, type, help);
    Sample(name, "", value);
  }
  std::string Text() const { return m_out.str(); }

 private:
  std::ostringstream m_out;
};

std::string Label(const char* name, const std::string& value) {
  std::string text = std::string(name) + "=\"";
  for (const char c : value) {
    if (c == '\\' || c == '"') text += '\\';
    text += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return text + '"';
}

void EngineHistograms(Metrics& metrics, const StatsSnapshot& snapshot) {
  metrics.Family("dnt_proxy_engine_seconds", "histogram", "Time the engine took per call on a request or response.");
  for (std::size_t call = 0; call < snapshot.engineTimes.size(); ++call) {
    const EngineTimes& times = snapshot.engineTimes[call];
    const std::string label = Label("call", CallNames[call]);
    uint64_t cumulative = 0;
    for (std::size_t i = 0; i < times.buckets.size(); ++i) {
      cumulative += times.buckets[i];
      std::ostringstream bound;
      if (i < EngineTimeBounds.size()) {
        bound << EngineTimeBounds[i];
      } else {
        bound << "+Inf";
      }
      metrics.Sample("dnt_proxy_engine_seconds_bucket", label + "," + Label("le", bound.str()), cumulative);
    }
    metrics.Sample("dnt_proxy_engine_seconds_sum", label, times.seconds);
    metrics.Sample("dnt_proxy_engine_seconds_count", label, times.count);
  }
}

void TlsMetrics(Metrics& metrics, const StatsSnapshot& snapshot) {
  metrics.Single("dnt_proxy_blind_tunnels_total", "counter", "CONNECT tunnels relayed without decrypting them.",
                 snapshot.tunnels);
  metrics.Single("dnt_proxy_tls_interceptions_total", "counter",
                 "CONNECT tunnels decrypted for the engine (TLS handshake with the client done).", snapshot.interceptions);
  metrics.Single("dnt_proxy_tls_resumptions_total", "counter",
                 "Decrypted tunnels whose client resumed a TLS session (no new key exchange, no leaf).",
                 snapshot.tlsResumptions);
  metrics.Family("dnt_proxy_tls_failures_total", "counter",
                 "TLS handshakes that failed: with a client (its certificate refused) or a server (its certificate "
                 "did not verify, or no handshake).");
  metrics.Sample("dnt_proxy_tls_failures_total", Label("side", "client"), snapshot.tlsClientFailures);
  metrics.Sample("dnt_proxy_tls_failures_total", Label("side", "server"), snapshot.tlsServerFailures);
  if (!snapshot.leaves) return;
  metrics.Single("dnt_proxy_tls_leaf_certificates_minted_total", "counter", "Leaf certificates signed by the local CA.",
                 snapshot.leaves->minted);
  metrics.Single("dnt_proxy_tls_leaf_cache_hits_total", "counter", "Handshakes served by a cached leaf certificate.",
                 snapshot.leaves->hits);
  metrics.Single("dnt_proxy_tls_leaf_cache_size", "gauge", "Leaf certificates cached.", snapshot.leaves->size);
  metrics.Single("dnt_proxy_tls_leaf_cache_capacity", "gauge", "Leaf certificates the cache keeps at most.",
                 snapshot.leaves->capacity);
}

double Age(std::time_t since) {
  return since ? std::difftime(std::time(nullptr), since) : 0;
}

json FeedJson(const BasesFeedStatus& feed) {
  const bool checked = feed.lastCheck.time_since_epoch().count() != 0;
  const bool failed = feed.lastFailureTime.time_since_epoch().count() != 0;
  json failures = json::object();
  for (const bases_feed::Failure failure : bases_feed::AllFailures) {
    failures[bases_feed::FailureName(failure)] = feed.failures[static_cast<std::size_t>(failure)];
  }
  return {{"url", feed.url},
          {"version", feed.version},
          {"created", feed.version ? UtcText(std::chrono::system_clock::from_time_t(feed.created)) : ""},
          {"expires", feed.version ? UtcText(std::chrono::system_clock::from_time_t(feed.expires)) : ""},
          {"ageSeconds", feed.version ? Age(feed.created) : 0},
          {"checks", feed.checks},
          {"updates", feed.updates},
          {"lastCheck", checked ? UtcText(feed.lastCheck) : ""},
          {"lastResult", feed.lastResult},
          {"lastFailure",
           {{"time", failed ? UtcText(feed.lastFailureTime) : ""},
            {"reason", feed.lastFailureReason},
            {"text", feed.lastFailure}}},
          {"failures", failures}};
}

void FeedMetrics(Metrics& metrics, const BasesFeedStatus& feed) {
  metrics.Single("dnt_bases_version", "gauge", "The version of the feed's bases served; 0 before the first.", feed.version);
  metrics.Single("dnt_bases_age_seconds", "gauge", "Time since the bases served were published; 0 before the first.",
                 feed.version ? Age(feed.created) : 0);
  metrics.Single("dnt_bases_expiry_time_seconds", "gauge", "When the manifest of the bases served expires.",
                 feed.version ? static_cast<double>(feed.expires) : 0);
  metrics.Single("dnt_bases_last_check_time_seconds", "gauge", "When the feed was last checked; 0 before the first.",
                 feed.lastCheck.time_since_epoch().count() ? UnixSeconds(feed.lastCheck) : 0);
  metrics.Single("dnt_bases_checks_total", "counter", "Checks of the feed.", feed.checks);
  metrics.Single("dnt_bases_updates_total", "counter", "New versions of the feed applied.", feed.updates);
  metrics.Family("dnt_bases_update_failures_total", "counter", "Checks of the feed refused, by reason.");
  for (const bases_feed::Failure failure : bases_feed::AllFailures) {
    metrics.Sample("dnt_bases_update_failures_total", Label("reason", bases_feed::FailureName(failure)),
                   feed.failures[static_cast<std::size_t>(failure)]);
  }
}

json PausedList(const SitesSnapshot& sites) {
  return {{"sites", sites.paused}, {"requests", sites.pausedRequests}};
}

json SitesJson(const SitesSnapshot& sites) {
  json recent = json::array();
  for (std::size_t i = 0; i < sites.recent.size() && i < ListedSites; ++i) {
    const SiteActivity& site = sites.recent[i];
    recent.push_back({{"site", site.site},
                      {"lastSeen", UtcText(site.lastSeen)},
                      {"requests", site.requests},
                      {"trackers", site.trackers},
                      {"blocked", site.blocked},
                      {"pausedRequests", site.paused},
                      {"paused", std::binary_search(sites.paused.begin(), sites.paused.end(), site.site)}});
  }
  return recent;
}

void SitesMetrics(Metrics& metrics, const SitesSnapshot& sites) {
  metrics.Single("dnt_proxy_paused_sites", "gauge", "Sites on which protection is paused.", sites.paused.size());
  metrics.Family("dnt_proxy_paused_site", "gauge", "A site on which protection is paused.");
  for (const std::string& site : sites.paused) metrics.Sample("dnt_proxy_paused_site", Label("site", site), 1);
  metrics.Single("dnt_proxy_paused_requests_total", "counter",
                 "Requests that passed untouched because their page's site is paused.", sites.pausedRequests);
}

}  // namespace

std::string CategoryText(uint32_t category) { return NameOr(dnt::CategoryName(category), category); }

std::string VerdictText(uint32_t verdict) { return NameOr(dnt::VerdictName(verdict), verdict); }

std::string PausedJson(const SitesSnapshot& sites) {
  return json{{"paused", PausedList(sites)}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string StatsJson(const StatsSnapshot& snapshot) {
  const auto categories = ByCategory(snapshot);
  json categoryList = json::array();
  uint64_t trackerRequests = 0;
  for (uint32_t category = FirstCategory; category <= LastCategory; ++category) {
    trackerRequests += categories[category].requests;
    categoryList.push_back({{"id", category},
                            {"name", CategoryText(category)},
                            {"requests", categories[category].requests},
                            {"blocked", categories[category].blocked}});
  }
  json services = json::array();
  for (std::size_t i = 0; i < snapshot.services.size() && i < TopServices; ++i) {
    const ServiceCount& service = snapshot.services[i];
    services.push_back({{"id", service.id},
                        {"name", service.name},
                        {"category", CategoryText(service.category)},
                        {"requests", service.requests},
                        {"blocked", service.blocked}});
  }
  json blocked = json::array();
  for (std::size_t i = 0; i < snapshot.recentBlocked.size() && i < ListedBlocked; ++i) {
    const BlockedRequest& request = snapshot.recentBlocked[i];
    blocked.push_back({{"time", UtcText(request.time)},
                       {"method", request.method},
                       {"url", request.url},
                       {"status", request.status},
                       {"service", request.service},
                       {"category", request.service.empty() ? "" : CategoryText(request.category)}});
  }
  json verdicts = json::array();
  for (uint32_t verdict = 0; verdict < VerdictCount; ++verdict) {
    verdicts.push_back({{"verdict", VerdictText(verdict)}, {"sessions", snapshot.sessionsByVerdict[verdict]}});
  }
  json out = {
      {"engine", snapshot.engine},
      {"started", UtcText(snapshot.started)},
      {"uptimeSeconds", snapshot.uptimeSeconds},
      {"requests",
       {{"total", snapshot.httpRequests + snapshot.httpsRequests},
        {"http", snapshot.httpRequests},
        {"https", snapshot.httpsRequests}}},
      {"trackerRequests", trackerRequests},
      {"blocked", snapshot.blocked},
      {"modified", snapshot.modified},
      {"connectionsOpen", snapshot.connectionsOpen},
      {"serverConnectionsOpen", snapshot.serverConnectionsOpen},
      {"sessions", {{"open", snapshot.sessionsOpen}, {"verdicts", verdicts}}},
      {"categories", categoryList},
      {"topServices", services},
      {"servicesSeen", snapshot.services.size()},
      {"recentBlocked", blocked},
      {"engineTime",
       {{"request", TimesJson(snapshot.engineTimes[0])}, {"response", TimesJson(snapshot.engineTimes[1])}}},
      {"bases",
       {{"builtOn", snapshot.basesBuiltOn},
        {"loaded", snapshot.engine ? UtcText(snapshot.basesLoaded) : ""},
        {"swaps", snapshot.basesSwaps},
        {"swapFailures", snapshot.basesSwapFailures}}},
      {"tls", TlsJson(snapshot)}};
  if (snapshot.feed) out["bases"]["feed"] = FeedJson(*snapshot.feed);
  if (snapshot.sites) {
    out["paused"] = PausedList(*snapshot.sites);
    out["recentSites"] = SitesJson(*snapshot.sites);
  }
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string MetricsText(const StatsSnapshot& snapshot) {
  Metrics metrics;
  metrics.Single("dnt_proxy_start_time_seconds", "gauge", "When the proxy started, in seconds since the epoch.",
                 UnixSeconds(snapshot.started));
  metrics.Family("dnt_proxy_requests_total", "counter", "Requests the proxy took from clients, by scheme.");
  metrics.Sample("dnt_proxy_requests_total", Label("scheme", "http"), snapshot.httpRequests);
  metrics.Sample("dnt_proxy_requests_total", Label("scheme", "https"), snapshot.httpsRequests);
  metrics.Family("dnt_proxy_tracker_requests_total", "counter",
                 "Requests in sessions with a tracking service, by the service's category.");
  const auto categories = ByCategory(snapshot);
  for (uint32_t category = FirstCategory; category <= LastCategory; ++category) {
    metrics.Sample("dnt_proxy_tracker_requests_total", Label("category", CategoryText(category)),
                   categories[category].requests);
  }
  metrics.Single("dnt_proxy_blocked_requests_total", "counter", "Requests the engine answered in place of the server.",
                 snapshot.blocked);
  metrics.Single("dnt_proxy_modified_requests_total", "counter", "Requests or responses the engine changed.",
                 snapshot.modified);
  metrics.Single("dnt_proxy_sessions_open", "gauge", "Engine sessions open.", snapshot.sessionsOpen);
  metrics.Family("dnt_proxy_sessions_total", "counter", "Engine sessions ended, by verdict.");
  for (uint32_t verdict = 0; verdict < VerdictCount; ++verdict) {
    metrics.Sample("dnt_proxy_sessions_total", Label("verdict", VerdictText(verdict)), snapshot.sessionsByVerdict[verdict]);
  }
  metrics.Single("dnt_proxy_client_connections_open", "gauge", "Client connections open.", snapshot.connectionsOpen);
  metrics.Single("dnt_proxy_server_connections_open", "gauge", "Connections to servers open, idle ones included.",
                 snapshot.serverConnectionsOpen);
  EngineHistograms(metrics, snapshot);
  if (snapshot.engine) {
    metrics.Family("dnt_proxy_bases_info", "gauge", "The bases served: when they were built, as they say.");
    metrics.Sample("dnt_proxy_bases_info", Label("built_on", snapshot.basesBuiltOn), 1);
    metrics.Single("dnt_proxy_bases_loaded_time_seconds", "gauge", "When the bases served were loaded.",
                   UnixSeconds(snapshot.basesLoaded));
  }
  metrics.Single("dnt_proxy_bases_swaps_total", "counter", "Bases swapped in while serving.", snapshot.basesSwaps);
  metrics.Single("dnt_proxy_bases_swap_failures_total", "counter", "Bases that failed to load and were rolled back.",
                 snapshot.basesSwapFailures);
  if (snapshot.feed) FeedMetrics(metrics, *snapshot.feed);
  if (snapshot.sites) SitesMetrics(metrics, *snapshot.sites);
  TlsMetrics(metrics, snapshot);
  return metrics.Text();
}

}  // namespace dnt_proxy
