#include <windows.h>

#include "orv/system/loadable_module.h"
#include "orv/text/utf.h"

namespace orv::system {
namespace {

/// The system's text for `error`, without its line break.
std::string ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length ? text::ToUtf8(std::u16string(text, text + length)) : std::string();
  if (text) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return "error " + std::to_string(error) + (message.empty() ? "" : ": " + message);
}

}  // namespace

LoadableModule::~LoadableModule() { Unload(); }

bool LoadableModule::Load(const std::string& path, std::string& error) {
  Unload();
  const std::optional<std::u16string> wide = text::FromUtf8(path);
  if (!wide) {
    error = "the path is not valid UTF-8";
    return false;
  }
  m_handle = ::LoadLibraryW(reinterpret_cast<const wchar_t*>(wide->c_str()));
  if (!m_handle) error = ErrorText(::GetLastError());
  return m_handle != nullptr;
}

void* LoadableModule::Symbol(const char* name) const {
  return m_handle ? reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_handle), name)) : nullptr;
}

void LoadableModule::Unload() {
  if (m_handle) ::FreeLibrary(static_cast<HMODULE>(m_handle));
  m_handle = nullptr;
}

}  // namespace orv::system
