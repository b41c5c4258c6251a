#pragma once

#include <cstdint>
#include <string_view>

#include "orv/trace/trace_stream.h"

namespace orv {

struct ProductVersion {
  uint32_t major;
  uint32_t minor;
  uint32_t build;
  uint32_t revision;
};

/// Scans "%u.%u.%u.%u" (999 for a missing number); the third number is the
/// revision and the fourth the build.
ProductVersion ParseProductVersion(std::string_view text) noexcept;

/// This module's version, read once.
const ProductVersion& GetProductVersion() noexcept;

/// Writes "DAR Odurur ver. " and major.minor.build.revision.
TraceStream& operator<<(TraceStream& s, const ProductVersion& v) noexcept;

}  // namespace orv
