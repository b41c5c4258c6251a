// The service settings given on the command line as --setting name=value.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "do_not_track/service_settings.h"

namespace dntbases {

/// Adds --setting (repeatable) to `command`.
void AddSettingOption(CLI::App& command, std::vector<std::string>& assignments);

/// The defaults with every assignment applied, validated as the processor
/// factory validates them. Throws std::invalid_argument for a bad assignment
/// and orv::InvalidArgumentException for repeated entries.
dnt::ServiceSettings MakeSettings(const std::vector<std::string>& assignments);

}  // namespace dntbases
