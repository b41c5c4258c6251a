// What the bases feed has done, for the dashboard and /metrics.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

#include "tools/bases_feed/feed_error.h"

namespace dnt_proxy {

struct BasesFeedStatus {
  std::string url;
  /// The version served; 0 while the bases are not the feed's.
  uint64_t version = 0;
  std::time_t created = 0;
  std::time_t expires = 0;
  uint64_t checks = 0;
  uint64_t updates = 0;
  /// Zero until the first check has ended.
  std::chrono::system_clock::time_point lastCheck;
  /// "updated", "unchanged" or "refused".
  std::string lastResult;
  std::chrono::system_clock::time_point lastFailureTime;
  std::string lastFailureReason;
  std::string lastFailure;
  std::array<uint64_t, bases_feed::AllFailures.size()> failures{};
};

}  // namespace dnt_proxy
