// Running a tool of the build as a program, the way its users do.
#pragma once

#include <filesystem>
#include <string>

namespace tools_test {

struct ProgramRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

/// Runs `command` through the system's shell with `input` on standard
/// input; the scratch files go to `scratch`.
ProgramRun RunProgram(const std::string& command, const std::filesystem::path& scratch, const std::string& input = "");

/// `text` quoted for the shell RunProgram hands commands to (sh, or
/// cmd.exe on Windows).
std::string Quoted(const std::string& text);

/// `path` as the program word of a command: quoted, and on Windows in the
/// system's own form (cmd.exe finds no program by a POSIX-style path).
std::string Program(const std::string& path);

/// The start of a command that runs the rest of it in `directory`.
std::string InDirectory(const std::filesystem::path& directory);

/// A fresh scratch directory named after `name`.
std::filesystem::path MakeScratchDirectory(const std::string& name);

}  // namespace tools_test
