// The product version text from this module's version resource: the
// "ProductVersion" string of the US-English table, else the fixed file
// version, else "0.0.0.0".
#include <windows.h>

#include <string>
#include <vector>

#include "orv/system/module_version.h"
#include "orv/text/utf.h"

namespace orv::system {
namespace {

std::wstring ThisModulePath() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ThisModulePath), &module)) {
    return {};
  }
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

std::string ReadModuleVersionText() {
  const std::wstring path = ThisModulePath();
  DWORD ignored = 0;
  const DWORD size = path.empty() ? 0 : ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::vector<unsigned char> resource(size);
  if (size == 0 || !::GetFileVersionInfoW(path.c_str(), 0, size, resource.data())) return "0.0.0.0";

  void* value = nullptr;
  UINT length = 0;
  if (::VerQueryValueW(resource.data(), L"\\StringFileInfo\\040904B0\\ProductVersion", &value, &length) &&
      length > 0) {
    const auto* text = static_cast<const wchar_t*>(value);
    if (text[length - 1] == L'\0') --length;
    if (length > 0) return text::ToUtf8(std::u16string(text, text + length));
  }
  if (::VerQueryValueW(resource.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
           "." + std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
  }
  return "0.0.0.0";
}

}  // namespace orv::system
