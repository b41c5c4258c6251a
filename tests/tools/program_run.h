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

/// A fresh scratch directory named after `name`.
std::filesystem::path MakeScratchDirectory(const std::string& name);

}  // namespace tools_test
