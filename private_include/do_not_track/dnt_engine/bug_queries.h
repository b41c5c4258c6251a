// Questions answered by a loaded bug database. The caller keeps the bases
// alive for the duration of a call; any number of calls may run at once on
// different threads.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "do_not_track/dnt_engine/bug_bases.h"
#include "do_not_track/service_component.h"
#include "do_not_track/service_settings.h"

namespace dnt {

struct ExceptionalSiteFlags {
  bool partner = false;
  bool incompatible = false;
};

struct BugService {
  uint32_t serviceIndex = 0;
  uint32_t serviceId = 0;
};

/// What the match queries reuse from call to call, so that a warm context
/// allocates nothing: one per thread or per script host, never used by two
/// threads at once. It holds nothing of any bases and may outlive them.
/// Rules and then exceptions of one text bring it into canonical form once.
struct BugMatchContext {
  mask_engine::MatchScratch masks;
  std::vector<uint32_t> bugIndexes;
};

/// Bug indexes of the rules that match `text` cut at its first '?', in
/// matcher order (the order the rules were added), repeats possible.
std::vector<uint32_t> MatchBugRules(const BugBases& bases, const char* text, uint32_t length);

/// Bug indexes of the exceptions that match `text` cut at its first '?',
/// with every list value replaced in place by the bug indexes of its list.
std::vector<uint32_t> MatchBugExceptions(const BugBases& bases, const char* text, uint32_t length);

/// The two queries above with a caller's context; the result lives in the
/// context until its next query.
const std::vector<uint32_t>& MatchBugRules(const BugBases& bases, const char* text, uint32_t length,
                                           BugMatchContext& context);
const std::vector<uint32_t>& MatchBugExceptions(const BugBases& bases, const char* text, uint32_t length,
                                                BugMatchContext& context);

/// Whether any of the bugs belongs to a partner (category 6) or incompatible
/// (7) site. Throws std::out_of_range "the bug index is out of range".
ExceptionalSiteFlags DetectExceptionalSites(const BugBases& bases, std::span<const uint32_t> bugIndexes);

/// 6 or 7 for the first exception match whose service has that category,
/// else 0.
uint32_t GetSiteCategory(const BugBases& bases, const char* text, uint32_t length);
uint32_t GetSiteCategory(const BugBases& bases, const char* text, uint32_t length, BugMatchContext& context);
/// The same for exceptions already matched (MatchBugExceptions' result), so a
/// caller that has them does not match again. Throws std::out_of_range "the
/// bug index is out of range".
uint32_t GetSiteCategory(const BugBases& bases, std::span<const uint32_t> exceptionBugIndexes);

/// Throws std::out_of_range "FlatObjectListBlock: the index is out of range".
ServiceInfo GetServiceInfo(const BugBases& bases, uint32_t serviceIndex);

/// Throws std::out_of_range for a bug index or a service index out of range.
BugService GetBugService(const BugBases& bases, uint32_t bugIndex);

/// The per-service setting when `settings` (a validated copy) has one, else
/// whether the service's category is blocked.
bool IsServiceBlockingEnabled(const BugBases& bases, uint32_t serviceIndex, const ServiceSettings& settings);

/// Replaces `services` with the services of `category`, in ascending id
/// order. Throws std::bad_cast for a name that is not UTF-8, leaving
/// `services` alone.
void GetSupportedTrackingServices(const BugBases& bases, uint32_t category,
                                  std::vector<SupportedTrackingService>& services);

/// Whether requests to `domain` need processing: true when a known HTTPS
/// domain mask matches it, and always true (traced at level 500) when the
/// database has no HTTPS domain list.
bool IsHttpsDomainProcessingRequired(const BugBases& bases, const char* domain, uint32_t length);
bool IsHttpsDomainProcessingRequired(const BugBases& bases, const char* domain, uint32_t length,
                                     BugMatchContext& context);

}  // namespace dnt
