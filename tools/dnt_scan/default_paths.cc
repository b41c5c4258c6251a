#include "tools/dnt_scan/default_paths.h"

#include <filesystem>

namespace dnt_scan {
namespace {

namespace fs = std::filesystem;

std::string Installed(const char* relativeToProgram, const char* inBuildTree) {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const fs::path installed = (program.parent_path() / relativeToProgram).lexically_normal();
    if (fs::exists(installed, error)) return installed.string();
  }
  return inBuildTree;
}

}  // namespace

std::string DefaultModulePath() { return Installed(DNT_SCAN_MODULE_INSTALLED, DNT_SCAN_MODULE_BUILT); }

std::string DefaultBasesDirectory() { return Installed(DNT_SCAN_BASES_INSTALLED, DNT_SCAN_BASES_BUILT); }

}  // namespace dnt_scan
