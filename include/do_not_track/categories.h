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

}  // namespace dnt
