#include "tools/module_host/engine_settings.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "do_not_track/categories.h"
#include "url_parser/special_schemes.h"

namespace module_host {
namespace {

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() <= 9 && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

uint32_t ServiceId(const std::string& text, const std::vector<TrackingService>& services) {
  if (IsNumber(text)) return static_cast<uint32_t>(std::stoul(text));
  const TrackingService* found = nullptr;
  for (const TrackingService& service : services) {
    if (!orv::network::EqualsIgnoringAsciiCase(service.name, text)) continue;
    if (found) throw std::invalid_argument("more than one service is named \"" + text + "\"; give its id");
    found = &service;
  }
  if (!found) throw std::invalid_argument("no tracking service is named \"" + text + "\"");
  return found->id;
}

}  // namespace

uint32_t ParseCategory(const std::string& text) {
  static const std::map<std::string, uint32_t> names = {
      {"social", dnt::category::SocialNetwork}, {"social-network", dnt::category::SocialNetwork},
      {"analytics", dnt::category::WebAnalytics}, {"web-analytics", dnt::category::WebAnalytics},
      {"ad", dnt::category::AdAgency},          {"ad-agency", dnt::category::AdAgency},
      {"web-bug", dnt::category::WebBug}};
  if (const auto it = names.find(text); it != names.end()) return it->second;
  if (IsNumber(text) && std::stoul(text) >= dnt::category::SocialNetwork && std::stoul(text) <= dnt::category::WebBug) {
    return static_cast<uint32_t>(std::stoul(text));
  }
  throw std::invalid_argument("unknown category \"" + text + "\" (social, analytics, ad, web-bug or 1 to 4)");
}

bool NamesServices(const SettingsOptions& options) {
  for (const auto* list : {&options.blockServices, &options.allowServices}) {
    if (!std::all_of(list->begin(), list->end(), IsNumber)) return true;
  }
  return false;
}

dnt::ServiceSettings BuildSettings(const SettingsOptions& options, const std::vector<TrackingService>& services) {
  dnt::ServiceSettings settings = dnt::ServiceSettings::Defaults();
  settings.excludePartnerSites = !options.scanPartnerSites;
  settings.excludeIncompatibleSites = !options.scanIncompatibleSites;
  settings.addDntHttpHeader = options.addDntHeader;
  settings.enableVerboseTrace = options.verboseTrace;
  for (const std::string& text : options.blockCategories) {
    const uint32_t category = ParseCategory(text);
    auto& categories = settings.blockTrackingServiceCategories;
    if (std::find(categories.begin(), categories.end(), category) == categories.end()) categories.push_back(category);
  }
  std::map<uint32_t, uint32_t> perService;
  for (const auto& [list, value] : {std::pair{&options.blockServices, 1u}, std::pair{&options.allowServices, 0u}}) {
    for (const std::string& text : *list) {
      const auto [it, added] = perService.emplace(ServiceId(text, services), value);
      if (!added && it->second != value) throw std::invalid_argument("\"" + text + "\" is both blocked and allowed");
    }
  }
  for (const auto& [id, value] : perService) settings.trackingServicesSettings.push_back({id, value});
  return settings;
}

}  // namespace module_host
