#include "tools/dntbases/settings_option.h"

#include <stdexcept>

#include "do_not_track/dnt_engine/service_settings_validation.h"

namespace dntbases {
namespace {

bool ParseFlag(const std::string& name, const std::string& value) {
  if (value == "1" || value == "true") return true;
  if (value == "0" || value == "false") return false;
  throw std::invalid_argument("setting " + name + " takes 0, 1, true or false, not [" + value + "]");
}

uint32_t ParseNumber(const std::string& name, const std::string& text) {
  std::size_t used = 0;
  unsigned long value = 0;
  try {
    value = std::stoul(text, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || text.empty() || value > UINT32_MAX || text[0] == '-')
    throw std::invalid_argument("setting " + name + ": [" + text + "] is not an unsigned 32-bit number");
  return static_cast<uint32_t>(value);
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    const std::size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

void ApplySetting(dnt::ServiceSettings& settings, const std::string& assignment) {
  const std::size_t equals = assignment.find('=');
  if (equals == std::string::npos) throw std::invalid_argument("a setting is name=value, not [" + assignment + "]");
  const std::string name = assignment.substr(0, equals);
  const std::string value = assignment.substr(equals + 1);
  if (name == "excludePartnerSites") {
    settings.excludePartnerSites = ParseFlag(name, value);
  } else if (name == "excludeIncompatibleSites") {
    settings.excludeIncompatibleSites = ParseFlag(name, value);
  } else if (name == "addTrackingNoise") {
    settings.addTrackingNoise = ParseFlag(name, value);
  } else if (name == "addDntHttpHeader") {
    settings.addDntHttpHeader = ParseFlag(name, value);
  } else if (name == "enableVerboseTrace") {
    settings.enableVerboseTrace = ParseFlag(name, value);
  } else if (name == "blockTrackingServiceCategories") {
    settings.blockTrackingServiceCategories.clear();
    for (const std::string& item : SplitList(value)) settings.blockTrackingServiceCategories.push_back(ParseNumber(name, item));
  } else if (name == "trackingServicesSettings") {
    settings.trackingServicesSettings.clear();
    for (const std::string& item : SplitList(value)) {
      const std::size_t colon = item.find(':');
      if (colon == std::string::npos) throw std::invalid_argument("setting " + name + " takes id:value pairs");
      settings.trackingServicesSettings.push_back(
          {ParseNumber(name, item.substr(0, colon)), ParseNumber(name, item.substr(colon + 1))});
    }
  } else {
    throw std::invalid_argument("unknown setting [" + name + "]");
  }
}

}  // namespace

void AddSettingOption(CLI::App& command, std::vector<std::string>& assignments) {
  command.add_option("--setting", assignments,
                     "a service setting as name=value: excludePartnerSites, excludeIncompatibleSites, "
                     "addTrackingNoise, addDntHttpHeader, enableVerboseTrace (0/1), "
                     "blockTrackingServiceCategories (1,4), trackingServicesSettings (id:value,...)");
}

dnt::ServiceSettings MakeSettings(const std::vector<std::string>& assignments) {
  dnt::ServiceSettings settings = dnt::ServiceSettings::Defaults();
  for (const std::string& assignment : assignments) ApplySetting(settings, assignment);
  return dnt::CopyValidatedServiceSettings(settings);
}

}  // namespace dntbases
