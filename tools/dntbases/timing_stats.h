// Per-URL match timings for the subcommands that take --stats.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace dntbases {

using Clock = std::chrono::steady_clock;

inline int64_t NanosecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

/// A URL's length as the matchers take it.
inline uint32_t UrlLength(const std::string& url) {
  return static_cast<uint32_t>(std::min<size_t>(url.size(), UINT32_MAX));
}

/// The value at `fraction` of `sorted`, nearest rank; 0 when empty.
inline int64_t Percentile(const std::vector<int64_t>& sorted, double fraction) {
  if (sorted.empty()) return 0;
  const auto rank = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(rank, sorted.size() - 1)];
}

/// Times `match(url)` once per URL: "urls", "match_median_ns",
/// "match_p90_ns" and "match_p99_ns", for the caller to add its own figures to.
template <class Match>
nlohmann::json MatchTimings(const std::vector<std::string>& urls, Match&& match) {
  std::vector<int64_t> times;
  times.reserve(urls.size());
  for (const std::string& url : urls) {
    const auto start = Clock::now();
    match(url);
    times.push_back(NanosecondsSince(start));
  }
  std::sort(times.begin(), times.end());
  return {{"urls", urls.size()},
          {"match_median_ns", Percentile(times, 0.5)},
          {"match_p90_ns", Percentile(times, 0.9)},
          {"match_p99_ns", Percentile(times, 0.99)}};
}

}  // namespace dntbases
