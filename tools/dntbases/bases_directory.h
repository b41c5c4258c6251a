// Loading a complete set of bases from a directory, as the component does.
#pragma once

#include <string>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "orv/com_ptr.h"
#include "orv/tracer.h"

namespace dntbases {

/// Collects the base files of `directory` (dnt0???.dat and dntbugs.dat,
/// packed or not) and builds a Bases from them. Throws what the component
/// throws; use LoadFailureText in the handler.
orv::ComPtr<dnt::Bases> LoadBasesDirectory(const std::string& directory, const orv::ComPtr<orv::ITracer>& tracer);

/// Call inside a catch handler: the failure lines the tracer kept (when it
/// keeps them) followed by the translated exception in flight.
std::string LoadFailureText(orv::ITracer* tracer);

}  // namespace dntbases
