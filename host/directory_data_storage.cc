#include "host/directory_data_storage.h"

#include <filesystem>
#include <new>
#include <string_view>

#include "host/memory_io.h"
#include "orv/system/files.h"
#include "orv/text/utf.h"

namespace host {

using namespace orv;
namespace fs = std::filesystem;

namespace {

bool ClimbsOut(std::string_view relative) {
  while (!relative.empty()) {
    const auto end = relative.find_first_of("/\\");
    if (relative.substr(0, end) == "..") return true;
    if (end == std::string_view::npos) break;
    relative.remove_prefix(end + 1);
  }
  return false;
}

result_t ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
  system::ReadOnlyFile file;
  if (!file.Open(path)) return result::FileNotFound;
  uint64_t size = 0;
  if (!file.GetSize(size) || !file.SeekToStart()) return result::MediaError;
  if (size > UINT32_MAX) return result::FileIsTooBig;
  bytes.resize(static_cast<std::size_t>(size));
  if (file.Read(bytes.data(), bytes.size()) != bytes.size()) return result::MediaError;
  return result::NoError;
}

}  // namespace

bool DirectoryDataStorage::Resolve(const char16_t* name, std::string& path) const {
  if (!name) return false;
  std::string relative = text::ToUtf8(name);
  while (!relative.empty() && (relative.front() == '/' || relative.front() == '\\')) relative.erase(0, 1);
  if (ClimbsOut(relative)) return false;
  path = system::JoinPath(m_root, relative);
  return true;
}

result_t DirectoryDataStorage::EnumerateDirectory(const char16_t* directory, std::vector<StorageEntry>* out) {
  if (!out) return result::InvalidArgument;
  try {
    std::string path;
    if (!Resolve(directory, path)) return result::AccessDenied;
    std::error_code error;
    fs::directory_iterator it(path, error);
    if (error) return result::PathNotFound;
    std::vector<StorageEntry> entries;
    for (; it != fs::directory_iterator(); it.increment(error)) {
      // A broken link or an entry gone meanwhile is simply not listed.
      std::error_code entryError;
      const bool isDirectory = it->is_directory(entryError);
      if (!isDirectory && !it->is_regular_file(entryError)) continue;
      std::optional<std::u16string> name = text::FromUtf8(it->path().filename().string());
      if (!name) continue;
      entries.push_back({std::move(*name), isDirectory});
    }
    if (error) return result::MediaError;
    *out = std::move(entries);
    return result::NoError;
  } catch (const std::bad_alloc&) {
    return result::OutOfMemory;
  }
}

result_t DirectoryDataStorage::Open(const char16_t* name, uint32_t, IIO** out) {
  if (!out) return result::InvalidArgument;
  *out = nullptr;
  try {
    std::string path;
    if (!Resolve(name, path)) return result::AccessDenied;
    std::vector<uint8_t> bytes;
    if (const result_t code = ReadFile(path, bytes); Failed(code)) return code;
    *out = MakeHostObject<MemoryIO>(std::move(bytes)).Detach();
    return result::NoError;
  } catch (const std::bad_alloc&) {
    return result::OutOfMemory;
  }
}

}  // namespace host
