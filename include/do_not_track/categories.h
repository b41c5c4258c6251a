// Categories of tracking services and exceptional sites, and the verdict
// values of a session, as the bases, the scripts and the host share them.
#pragma once

#include <cstdint>

namespace dnt {

namespace category {
inline constexpr uint32_t SocialNetwork = 1;
inline constexpr uint32_t WebAnalytics = 2;
inline constexpr uint32_t AdAgency = 3;
inline constexpr uint32_t WebBug = 4;
inline constexpr uint32_t PartnerSite = 6;
inline constexpr uint32_t IncompatibleSite = 7;
}  // namespace category

namespace verdict {
inline constexpr uint32_t NotDetected = 0;
inline constexpr uint32_t Detected = 1;
inline constexpr uint32_t Blocked = 2;
inline constexpr uint32_t BlockFailed = 3;
}  // namespace verdict

/// The name of a tracking-service category for people ("social network",
/// "web analytics", "ad agency", "web bug", "partner site", "incompatible
/// site"); null for any other value.
constexpr const char* CategoryName(uint32_t value) noexcept {
  switch (value) {
    case category::SocialNetwork: return "social network";
    case category::WebAnalytics: return "web analytics";
    case category::AdAgency: return "ad agency";
    case category::WebBug: return "web bug";
    case category::PartnerSite: return "partner site";
    case category::IncompatibleSite: return "incompatible site";
    default: return nullptr;
  }
}

/// The name of a verdict for people ("not detected", "detected", "blocked",
/// "block failed"); null for any other value.
constexpr const char* VerdictName(uint32_t value) noexcept {
  switch (value) {
    case verdict::NotDetected: return "not detected";
    case verdict::Detected: return "detected";
    case verdict::Blocked: return "blocked";
    case verdict::BlockFailed: return "block failed";
    default: return nullptr;
  }
}

}  // namespace dnt
