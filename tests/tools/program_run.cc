#include "tests/tools/program_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace tools_test {

ProgramRun RunProgram(const std::string& command, const std::filesystem::path& scratch, const std::string& input) {
  const std::filesystem::path in = scratch / "stdin.txt", err = scratch / "stderr.txt";
  std::ofstream(in, std::ios::binary) << input;
  const std::string full = command + " <" + Quoted(in.string()) + " 2>" + Quoted(err.string());
  ProgramRun run;
  FILE* pipe = ::popen(full.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream errIn(err, std::ios::binary);
  run.err.assign(std::istreambuf_iterator<char>(errIn), std::istreambuf_iterator<char>());
  return run;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::filesystem::path MakeScratchDirectory(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace tools_test
