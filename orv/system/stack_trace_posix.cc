// POSIX back-traces come from glibc's backtrace(); modules are the ELF
// objects that the dynamic loader reports, identified by path and file name
// in place of the two names a Windows module table records.
#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>

#include <cstring>

#include "orv/system/stack_trace.h"

namespace orv::system {

std::vector<void*> CaptureStackTrace(unsigned skip, unsigned maxFrames) {
  std::vector<void*> frames(skip + maxFrames);
  int n = ::backtrace(frames.data(), static_cast<int>(frames.size()));
  if (n <= static_cast<int>(skip)) return {};
  frames.erase(frames.begin(), frames.begin() + skip);
  frames.resize(static_cast<size_t>(n) - skip);
  return frames;
}

namespace {

struct ModuleSearch {
  uintptr_t address;
  std::optional<ModuleInfo> found;
};

int VisitModule(dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<ModuleSearch*>(data);
  uintptr_t low = UINTPTR_MAX, high = 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD) continue;
    uintptr_t begin = info->dlpi_addr + ph.p_vaddr;
    low = std::min(low, begin);
    high = std::max(high, static_cast<uintptr_t>(begin + ph.p_memsz));
  }
  if (low > high || search->address < low || search->address >= high) return 0;
  ModuleInfo module;
  module.path = info->dlpi_name ? info->dlpi_name : "";
  if (module.path.empty()) {
    // The main program reports an empty name; dladdr knows its path.
    Dl_info dl{};
    if (::dladdr(reinterpret_cast<void*>(search->address), &dl) && dl.dli_fname) module.path = dl.dli_fname;
  }
  const char* slash = std::strrchr(module.path.c_str(), '/');
  module.name = slash ? slash + 1 : module.path;
  module.base = low;
  module.size = high - low;
  search->found = std::move(module);
  return 1;
}

}  // namespace

std::optional<ModuleInfo> FindModule(const void* address) {
  ModuleSearch search{reinterpret_cast<uintptr_t>(address), std::nullopt};
  ::dl_iterate_phdr(&VisitModule, &search);
  return search.found;
}

}  // namespace orv::system
