// Windows back-traces come from RtlCaptureStackBackTrace; a module is found
// from an address through the loader and measured from its image header.
#include <windows.h>

#include <algorithm>

#include "orv/system/stack_trace.h"
#include "orv/text/utf.h"

namespace orv::system {

std::vector<void*> CaptureStackTrace(unsigned skip, unsigned maxFrames) {
  // The function takes at most 62 frames to skip and capture together on
  // older systems.
  std::vector<void*> frames(std::min(maxFrames, 62u));
  const USHORT n = ::RtlCaptureStackBackTrace(skip, static_cast<DWORD>(frames.size()), frames.data(), nullptr);
  frames.resize(n);
  return frames;
}

std::optional<ModuleInfo> FindModule(const void* address) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module)) {
    return std::nullopt;
  }
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
  ModuleInfo info;
  info.path = text::ToUtf8(std::u16string(path, path + length));
  const auto slash = info.path.find_last_of("\\/");
  info.name = slash == std::string::npos ? info.path : info.path.substr(slash + 1);
  info.base = reinterpret_cast<uintptr_t>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(module) + dos->e_lfanew);
  info.size = nt->OptionalHeader.SizeOfImage;
  return info;
}

}  // namespace orv::system
