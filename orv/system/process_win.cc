#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "orv/system/process.h"
#include "orv/text/utf.h"

namespace orv::system {

std::string RunningProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return text::ToUtf8(std::u16string(path.begin(), path.begin() + length));
    path.resize(path.size() * 2);
  }
}

uint64_t PeakResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize;
}

void UseBinaryStandardStreams() {
  ::_setmode(::_fileno(stdin), _O_BINARY);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

}  // namespace orv::system
