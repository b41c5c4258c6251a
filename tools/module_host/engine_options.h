// The command-line options every host tool shares: where the module and the
// bases are, the service settings, and the engine's trace.
#pragma once

#include <CLI/CLI.hpp>

#include "tools/module_host/engine_settings.h"
#include "tools/module_host/module_engine.h"

namespace module_host {

/// Adds --bases, --module, --block, --block-service, --allow-service, --dnt,
/// --scan-partner-sites, --scan-incompatible-sites, --trace and
/// --verbose-trace. `module` starts from the default module and bases.
void AddEngineOptions(CLI::App& app, ModuleEngineOptions& module, SettingsOptions& settings);

}  // namespace module_host
