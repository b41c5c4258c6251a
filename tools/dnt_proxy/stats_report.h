// The proxy's statistics as its admin endpoints give them: /api/stats as
// JSON for the dashboard, /metrics in Prometheus's text format.
#pragma once

#include <string>

#include "tools/dnt_proxy/stats.h"

namespace dnt_proxy {

/// The services and blocked requests /api/stats lists at most.
inline constexpr std::size_t TopServices = 10;
inline constexpr std::size_t ListedBlocked = 20;
/// The sites seen recently that /api/stats lists at most.
inline constexpr std::size_t ListedSites = 50;

/// A verdict's or a category's name for people, also for a value the SDK
/// does not name.
std::string VerdictText(uint32_t verdict);
std::string CategoryText(uint32_t category);

std::string StatsJson(const StatsSnapshot& snapshot);

std::string MetricsText(const StatsSnapshot& snapshot);

/// The paused sites as /api/paused gives them.
std::string PausedJson(const SitesSnapshot& sites);

}  // namespace dnt_proxy
