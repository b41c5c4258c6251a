#include <algorithm>

#include "do_not_track/dnt_engine/service_settings_validation.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/trace/trace_stream.h"

namespace dnt {

namespace {

[[noreturn]] void ThrowRepeated() {
  throw orv::InvalidArgumentException("service_settings", __LINE__, u"repeated options in ServiceSettings");
}

}  // namespace

ServiceSettings CopyValidatedServiceSettings(const ServiceSettings& source) {
  ServiceSettings copy = source;
  auto& categories = copy.blockTrackingServiceCategories;
  std::sort(categories.begin(), categories.end());
  if (std::adjacent_find(categories.begin(), categories.end()) != categories.end()) ThrowRepeated();

  auto& services = copy.trackingServicesSettings;
  std::sort(services.begin(), services.end(),
            [](const TrackingServiceSetting& a, const TrackingServiceSetting& b) { return a.serviceId < b.serviceId; });
  const auto sameId = [](const TrackingServiceSetting& a, const TrackingServiceSetting& b) {
    return a.serviceId == b.serviceId;
  };
  if (std::adjacent_find(services.begin(), services.end(), sameId) != services.end()) ThrowRepeated();
  return copy;
}

void TraceServiceSettings(orv::ITracer* tracer, const ServiceSettings& settings) {
  orv::TraceStream line(tracer, orv::trace_level::Routine);
  if (!line) return;
  line << "ProcessorFactory::ProcessorFactory(): ServiceSettings are: \n";
  line << "\texcludePartnerSites = " << settings.excludePartnerSites << "\n";
  line << "\texcludeIncompatibleSites = " << settings.excludeIncompatibleSites << "\n";
  line << "\taddTrackingNoise = " << settings.addTrackingNoise << "\n";
  line << "\taddDntHttpHeader = " << settings.addDntHttpHeader << "\n";
  line << "\tenableVerboseTrace = " << settings.enableVerboseTrace << "\n";
  line << "\tblockTrackingServiceCategories = [";
  const char* separator = "";
  for (const uint32_t category : settings.blockTrackingServiceCategories) {
    line << separator << category;
    separator = ", ";
  }
  line << "]\n\ttrackingServicesSettings = [";
  separator = "";
  for (const TrackingServiceSetting& entry : settings.trackingServicesSettings) {
    line << separator << entry.serviceId << ":" << entry.value;
    separator = ", ";
  }
  line << "]\n";
}

}  // namespace dnt
