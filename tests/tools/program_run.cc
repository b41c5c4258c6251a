#include "tests/tools/program_run.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace tools_test {
namespace {

#if defined(_WIN32)
// The command goes to "cmd.exe /c", which drops the first and the last quote
// of a command that starts with one: the outer pair is for it. It reports
// the program's exit code as is.
FILE* OpenPipe(const std::string& command) { return ::_popen(("\"" + command + "\"").c_str(), "rb"); }
int ExitCode(FILE* pipe) { return ::_pclose(pipe); }
#else
FILE* OpenPipe(const std::string& command) { return ::popen(command.c_str(), "r"); }
int ExitCode(FILE* pipe) {
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

}  // namespace

ProgramRun RunProgram(const std::string& command, const std::filesystem::path& scratch, const std::string& input) {
  const std::filesystem::path in = scratch / "stdin.txt", err = scratch / "stderr.txt";
  std::ofstream(in, std::ios::binary) << input;
  const std::string full = command + " <" + Quoted(in.string()) + " 2>" + Quoted(err.string());
  ProgramRun run;
  FILE* pipe = OpenPipe(full);
  if (!pipe) return run;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
  run.exitCode = ExitCode(pipe);
  std::ifstream errIn(err, std::ios::binary);
  run.err.assign(std::istreambuf_iterator<char>(errIn), std::istreambuf_iterator<char>());
  return run;
}

std::string Quoted(const std::string& text) {
#if defined(_WIN32)
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
  return quoted + "\"";
#else
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
#endif
}

std::string Program(const std::string& path) {
#if defined(_WIN32)
  return Quoted(std::filesystem::absolute(path).make_preferred().string());
#else
  return Quoted(path);
#endif
}

std::string InDirectory(const std::filesystem::path& directory) {
#if defined(_WIN32)
  return "cd /d " + Quoted(directory.string()) + " && ";  // /d: the folder may be on another drive
#else
  return "cd " + Quoted(directory.string()) + " && ";
#endif
}

std::filesystem::path MakeScratchDirectory(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / (name + "_" + std::to_string(std::random_device{}()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace tools_test
