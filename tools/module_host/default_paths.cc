#include "tools/module_host/default_paths.h"

#include <filesystem>

#include "cmake/build_paths.h"

#include "orv/system/process.h"

namespace module_host {
namespace {

namespace fs = std::filesystem;

std::string Installed(const char* relativeToProgram, const char* inBuildTree) {
  const std::string program = orv::system::RunningProgramPath();
  if (!program.empty()) {
    std::error_code error;
    const fs::path installed = (fs::path(program).parent_path() / relativeToProgram).lexically_normal();
    if (fs::exists(installed, error)) return installed.string();
  }
  return inBuildTree;
}

}  // namespace

std::string DefaultModulePath() { return Installed(DNT_MODULE_INSTALLED, DNT_MODULE_BUILT); }

std::string DefaultBasesDirectory() { return Installed(DNT_BASES_INSTALLED, DNT_BASES_BUILT); }

}  // namespace module_host
