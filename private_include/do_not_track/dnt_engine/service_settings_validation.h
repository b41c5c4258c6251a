// The validated copy of the host's ServiceSettings and its trace record.
#pragma once

#include "do_not_track/service_settings.h"
#include "orv/tracer.h"

namespace dnt {

/// Copies `source` (same allocator) with both lists sorted ascending, the
/// pairs by service id. Throws orv::InvalidArgumentException "repeated
/// options in ServiceSettings" for a repeated category or service id.
ServiceSettings CopyValidatedServiceSettings(const ServiceSettings& source);

/// Writes the settings, lists in the caller's order, as one level-800 record.
void TraceServiceSettings(orv::ITracer* tracer, const ServiceSettings& settings);

}  // namespace dnt
