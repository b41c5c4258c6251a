// Subcommands of dntbases; each lives in its own file and registers itself here.
#pragma once

#include <CLI/CLI.hpp>

namespace dntbases {

/// Each Add*Command adds one subcommand to `app`; the subcommand's callback
/// sets the process exit status through `exitCode`.
void AddBuildCommand(CLI::App& app, int& exitCode);
void AddCheckCommand(CLI::App& app, int& exitCode);
void AddDumpCommand(CLI::App& app, int& exitCode);
/// keygen, publish and fetch (not on Windows).
void AddFeedCommands(CLI::App& app, int& exitCode);
void AddImportCommand(CLI::App& app, int& exitCode);
void AddMaskMatchCommand(CLI::App& app, int& exitCode);
void AddMatchCommand(CLI::App& app, int& exitCode);
void AddPackCommands(CLI::App& app, int& exitCode);
void AddRunCommand(CLI::App& app, int& exitCode);
void AddSessionCommand(CLI::App& app, int& exitCode);

}  // namespace dntbases
