// Windows implementation of the file platform layer. Names cross this
// boundary as UTF-8 and meet the system as UTF-16.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "orv/system/files.h"
#include "orv/text/utf.h"

namespace orv::system {
namespace {

/// The path as the wide-character functions take it; nullopt when the
/// UTF-8 text is not valid (no file can have that name).
std::optional<std::wstring> WidePath(std::string_view path) {
  const std::optional<std::u16string> wide = text::FromUtf8(path);
  if (!wide) return std::nullopt;
  return std::wstring(wide->begin(), wide->end());
}

std::string NarrowName(const wchar_t* name) {
  const std::wstring_view view(name);
  return text::ToUtf8(std::u16string(view.begin(), view.end()));
}

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

struct FindCloser {
  void operator()(HANDLE find) const { ::FindClose(find); }
};

}  // namespace

uint32_t ListDirectory(const std::string& directory, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  const std::string pattern =
      !directory.empty() && directory.back() == '\\' ? directory + "*" : directory + "\\*";
  const std::optional<std::wstring> widePattern = WidePath(pattern);
  if (!widePattern) return file_error::PathNotFound;
  WIN32_FIND_DATAW found{};
  const HANDLE first = ::FindFirstFileExW(widePattern->c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                          nullptr, 0);
  if (first == INVALID_HANDLE_VALUE) return ::GetLastError();
  const std::unique_ptr<void, FindCloser> find(first);
  // A failure after the first entry ends the listing rather than failing it.
  do {
    DirectoryEntry entry;
    entry.name = NarrowName(found.cFileName);
    entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.isReparsePoint = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries.push_back(std::move(entry));
  } while (::FindNextFileW(first, &found));
  return file_error::None;
}

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '\\';
  path += name;
  return path;
}

ReadOnlyFile::~ReadOnlyFile() {
  if (m_handle != -1) ::CloseHandle(AsHandle(m_handle));
}

bool ReadOnlyFile::Open(const std::string& path) {
  if (m_handle != -1) ::CloseHandle(AsHandle(m_handle));
  m_handle = -1;
  const std::optional<std::wstring> wide = WidePath(path);
  if (!wide) return false;
  // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open; a pipe or
  // device is refused below, so reads never block or go on for ever.
  const HANDLE file = ::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    return false;
  }
  m_handle = reinterpret_cast<intptr_t>(file);
  return true;
}

bool ReadOnlyFile::GetSize(uint64_t& size) const {
  LARGE_INTEGER value{};
  if (m_handle == -1 || !::GetFileSizeEx(AsHandle(m_handle), &value) || value.QuadPart < 0) return false;
  size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool ReadOnlyFile::SeekToStart() {
  LARGE_INTEGER zero{};
  return m_handle != -1 && ::SetFilePointerEx(AsHandle(m_handle), zero, nullptr, FILE_BEGIN);
}

std::size_t ReadOnlyFile::Read(void* destination, std::size_t count) {
  if (m_handle == -1) return 0;
  auto* out = static_cast<unsigned char*>(destination);
  std::size_t total = 0;
  while (total < count) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - total, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(AsHandle(m_handle), out + total, chunk, &got, nullptr) || got == 0) break;
    total += got;
  }
  return total;
}

}  // namespace orv::system
