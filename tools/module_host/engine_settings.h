// The DNT service settings a host tool runs with, from the command line's words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "do_not_track/service_settings.h"
#include "tools/module_host/engine.h"

namespace module_host {

struct SettingsOptions {
  /// Categories whose services are blocked: names or numbers.
  std::vector<std::string> blockCategories;
  /// Services blocked, or let through, whatever their category: ids or names.
  std::vector<std::string> blockServices;
  std::vector<std::string> allowServices;
  bool addDntHeader = false;
  bool scanPartnerSites = false;
  bool scanIncompatibleSites = false;
  bool verboseTrace = false;
};

/// A service category from "social" (or "social-network"), "analytics"
/// ("web-analytics"), "ad" ("ad-agency"), "web-bug", or 1 to 4. Throws
/// std::invalid_argument.
uint32_t ParseCategory(const std::string& text);

/// True when some service is named rather than numbered, so that the list
/// of services is needed.
bool NamesServices(const SettingsOptions& options);

/// The settings for `options`; service names are looked up in `services`
/// (without case). Throws std::invalid_argument for an unknown category or
/// service, or a service both blocked and allowed.
dnt::ServiceSettings BuildSettings(const SettingsOptions& options, const std::vector<TrackingService>& services);

}  // namespace module_host
