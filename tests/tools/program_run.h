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

/// Runs `command` through the shell with `input` on standard input; the
/// scratch files go to `scratch`.
ProgramRun RunProgram(const std::string& command, const std::filesystem::path& scratch, const std::string& input = "");

/// `text` in single quotes for the shell.
std::string Quoted(const std::string& text);

/// A fresh scratch directory named after `name` and this process.
std::filesystem::path MakeScratchDirectory(const std::string& name);

}  // namespace tools_test
