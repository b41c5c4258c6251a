// The JSON source of a bases build: the bug database model and the scripts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/bases_writer/bases_writer.h"

namespace dntbases {

struct BasesSource {
  dnt::bases_writer::Database database;
  /// Script texts in the order the source lists them.
  std::vector<std::string> scripts;
};

/// Reads the source at `path`; script paths are taken relative to its
/// folder. Throws std::invalid_argument naming the offending entry (for
/// example "services[2].id: expected an unsigned 32-bit integer") and
/// std::runtime_error for files that cannot be read.
BasesSource ReadBasesSource(const std::filesystem::path& path);

/// 100 ns units since 1582-10-15 00:00 UTC of a UTC time written exactly as
/// "YYYY-MM-DDTHH:MM:SSZ" (years 1601 to 9999), or nullopt.
std::optional<int64_t> ParseUtcTimestamp(std::string_view text);

}  // namespace dntbases
