// Stack back-traces and module lookup for exception descriptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv::system {

/// Return addresses of the calling thread, innermost first, without the
/// `skip` innermost frames and at most `maxFrames` of them.
std::vector<void*> CaptureStackTrace(unsigned skip, unsigned maxFrames);

/// A loaded module: two identifying texts (its path and its file name), its
/// base address and its size in memory.
struct ModuleInfo {
  std::string path;
  std::string name;
  uintptr_t base = 0;
  size_t size = 0;
};

/// The module whose image holds `address`, if any.
std::optional<ModuleInfo> FindModule(const void* address);

}  // namespace orv::system
