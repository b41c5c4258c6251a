#include <sys/resource.h>

#include <filesystem>

#include "orv/system/process.h"

namespace orv::system {

std::string RunningProgramPath() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : program.string();
}

uint64_t PeakResidentBytes() {
  rusage usage{};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // Linux counts KiB
}

void UseBinaryStandardStreams() {}

}  // namespace orv::system
