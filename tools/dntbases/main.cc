#include <iostream>

#include "orv/system/process.h"
#include "tools/dntbases/commands.h"

int main(int argc, char** argv) {
  orv::system::UseBinaryStandardStreams();
  CLI::App app{"dntbases: build, inspect and try Do-Not-Track bases"};
  // Paths such as /tmp/x are arguments, not Windows-style options.
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  int exitCode = 0;
  dntbases::AddBuildCommand(app, exitCode);
  dntbases::AddCheckCommand(app, exitCode);
  dntbases::AddDumpCommand(app, exitCode);
#ifndef _WIN32
  dntbases::AddFeedCommands(app, exitCode);
#endif
  dntbases::AddImportCommand(app, exitCode);
  dntbases::AddMaskMatchCommand(app, exitCode);
  dntbases::AddMatchCommand(app, exitCode);
  dntbases::AddPackCommands(app, exitCode);
  dntbases::AddRunCommand(app, exitCode);
  dntbases::AddSessionCommand(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  return exitCode;
}
