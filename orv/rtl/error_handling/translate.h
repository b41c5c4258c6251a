#pragma once

#include "orv/result.h"
#include "orv/tracer.h"

namespace orv {

/// Call inside a catch-all handler at an interface boundary: classifies the
/// exception in flight (and the exceptions nested in it), writes them to one
/// trace line at level 300 after `prefix`, and returns the result code to
/// report. Never throws. NoCurrentException when nothing is in flight.
result_t TranslateCurrentException(ITracer* tracer, const char* prefix) noexcept;

}  // namespace orv
