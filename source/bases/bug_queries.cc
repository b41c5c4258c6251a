#include "do_not_track/dnt_engine/bug_queries.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <typeinfo>
#include <utility>

#include "orv/text/utf.h"
#include "orv/trace/trace_stream.h"

namespace dnt {

namespace {

// The query part of a URL never takes part in matching.
uint32_t LengthBeforeQuery(const char* text, uint32_t length) {
  if (length == 0) return 0;
  const void* question = std::memchr(text, '?', length);
  return question ? static_cast<uint32_t>(static_cast<const char*>(question) - text) : length;
}

const std::vector<uint32_t>& MatchTable(const BugRules& table, const char* text, uint32_t length,
                                        BugMatchContext& context) {
  table.Match(text, LengthBeforeQuery(text, length), context.masks, context.bugIndexes);
  return context.bugIndexes;
}

// With a context of its own, whose result it can keep without a copy.
std::vector<uint32_t> MatchTableOnce(const BugRules& table, const char* text, uint32_t length) {
  BugMatchContext context;
  MatchTable(table, text, length, context);
  return std::move(context.bugIndexes);
}

uint32_t CategoryOfBug(const BugBases& bases, uint32_t bugIndex) {
  return bases.Service(bases.ServiceIndexOfBug(bugIndex)).category;
}

}  // namespace

std::vector<uint32_t> MatchBugRules(const BugBases& bases, const char* text, uint32_t length) {
  return MatchTableOnce(bases.Rules(), text, length);
}

std::vector<uint32_t> MatchBugExceptions(const BugBases& bases, const char* text, uint32_t length) {
  return MatchTableOnce(bases.Exceptions(), text, length);
}

const std::vector<uint32_t>& MatchBugRules(const BugBases& bases, const char* text, uint32_t length,
                                           BugMatchContext& context) {
  return MatchTable(bases.Rules(), text, length, context);
}

const std::vector<uint32_t>& MatchBugExceptions(const BugBases& bases, const char* text, uint32_t length,
                                                BugMatchContext& context) {
  return MatchTable(bases.Exceptions(), text, length, context);
}

ExceptionalSiteFlags DetectExceptionalSites(const BugBases& bases, std::span<const uint32_t> bugIndexes) {
  ExceptionalSiteFlags flags;
  for (const uint32_t bugIndex : bugIndexes) {
    const uint32_t category = CategoryOfBug(bases, bugIndex);
    if (category == category::PartnerSite) flags.partner = true;
    if (category == category::IncompatibleSite) flags.incompatible = true;
  }
  return flags;
}

uint32_t GetSiteCategory(const BugBases& bases, std::span<const uint32_t> exceptionBugIndexes) {
  for (const uint32_t bugIndex : exceptionBugIndexes) {
    const uint32_t category = CategoryOfBug(bases, bugIndex);
    if (category == category::PartnerSite || category == category::IncompatibleSite) return category;
  }
  return 0;
}

uint32_t GetSiteCategory(const BugBases& bases, const char* text, uint32_t length) {
  BugMatchContext context;
  return GetSiteCategory(bases, text, length, context);
}

uint32_t GetSiteCategory(const BugBases& bases, const char* text, uint32_t length, BugMatchContext& context) {
  return GetSiteCategory(bases, MatchBugExceptions(bases, text, length, context));
}

ServiceInfo GetServiceInfo(const BugBases& bases, uint32_t serviceIndex) { return bases.Service(serviceIndex); }

BugService GetBugService(const BugBases& bases, uint32_t bugIndex) {
  BugService result;
  result.serviceIndex = bases.ServiceIndexOfBug(bugIndex);
  result.serviceId = bases.Services().GetId(result.serviceIndex);
  return result;
}

bool IsServiceBlockingEnabled(const BugBases& bases, uint32_t serviceIndex, const ServiceSettings& settings) {
  const ServiceInfo service = bases.Service(serviceIndex);
  const auto& perService = settings.trackingServicesSettings;
  const auto found = std::lower_bound(
      perService.begin(), perService.end(), service.id,
      [](const TrackingServiceSetting& entry, uint32_t id) { return entry.serviceId < id; });
  if (found != perService.end() && found->serviceId == service.id) return found->value == 1;
  const auto& categories = settings.blockTrackingServiceCategories;
  return std::binary_search(categories.begin(), categories.end(), service.category);
}

void GetSupportedTrackingServices(const BugBases& bases, uint32_t category,
                                  std::vector<SupportedTrackingService>& services) {
  std::vector<SupportedTrackingService> found;
  const FlatObjectListBlock& block = bases.Services();
  for (size_t i = 0; i < block.Count(); ++i) {
    const ServiceInfo service = block.Get(i);
    if (service.category != category) continue;
    std::optional<std::u16string> name = orv::text::FromUtf8(service.name);
    if (!name) throw std::bad_cast();
    found.push_back({std::move(*name), service.id, service.category});
  }
  services.swap(found);
}

bool IsHttpsDomainProcessingRequired(const BugBases& bases, const char* domain, uint32_t length) {
  BugMatchContext context;
  return IsHttpsDomainProcessingRequired(bases, domain, length, context);
}

bool IsHttpsDomainProcessingRequired(const BugBases& bases, const char* domain, uint32_t length,
                                     BugMatchContext& context) {
  const std::shared_ptr<mask_engine::MaskEngine>& domains = bases.HttpsDomains();
  if (!domains) {
    orv::TraceStream(bases.Tracer(), orv::trace_level::Irregularity) << "Using safe fallback for https domain list";
    return true;
  }
  return !domains->Match(domain, length, context.masks).empty();
}

}  // namespace dnt
