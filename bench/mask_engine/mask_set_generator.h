// Realistic mask sets and URL mixes for the mask engine benchmarks, generated
// from fixed seeds so that every run measures the same data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mask_engine::bench {

/// Mostly '*.name.tld' trackers, some host/path masks with '*' and '?', some
/// exact hosts.
std::vector<std::string> GenerateMasks(size_t count, uint64_t seed);

enum class UrlKind { kTrackerHit, kNearMiss, kLongQuery, kManyLabels, kUnrelated };
inline constexpr UrlKind kAllUrlKinds[] = {UrlKind::kTrackerHit, UrlKind::kNearMiss, UrlKind::kLongQuery,
                                           UrlKind::kManyLabels, UrlKind::kUnrelated};
const char* UrlKindName(UrlKind kind);

/// URLs of one kind built against `masks` (hits reuse their domains).
std::vector<std::string> GenerateUrls(const std::vector<std::string>& masks, UrlKind kind, size_t count,
                                      uint64_t seed);

/// An even mix of every kind.
std::vector<std::string> GenerateUrlMix(const std::vector<std::string>& masks, size_t count, uint64_t seed);

/// Distinct masks shaped like a real tracker list: 76% '*.name.tld', 20%
/// '*.name.tld/path*' with a trailing or inner '*', 4% '*.name.tld/path/' or a
/// bare 'name.tld', 0.2% with wildcards inside the host ('*.fls-*.name.tld',
/// '*.name.*/path/').
std::vector<std::string> GenerateRealShapedMasks(size_t count, uint64_t seed);

/// Distinct masks shaped like a public tracker list imported from its
/// "||host^" and "||host/path" rules: every mask starts with '*.'; 18% carry
/// a path, 15% a '*' in it ('*.tr.name.com/pixel*', '*.js.name.io/v*/lib.min.js',
/// '*.name.com/monitor/stat.js*'); 0.1% a '*' inside the host. Hosts share
/// their registrable domains, as the many hosts of one tracker do.
std::vector<std::string> GenerateTrackerListMasks(size_t count, uint64_t seed);

/// Request URLs of real length (median about 53 bytes, 40 before '?', p99
/// about 160): `trackerPercent` of them to hosts under `masks`, the others
/// to unrelated sites.
std::vector<std::string> GenerateRealShapedUrls(const std::vector<std::string>& masks, size_t count,
                                                unsigned trackerPercent, uint64_t seed);

}  // namespace mask_engine::bench
