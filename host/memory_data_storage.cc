#include "host/memory_data_storage.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "host/memory_io.h"

namespace host {

using namespace orv;

void MemoryDataStorage::AddFile(std::u16string name, std::vector<uint8_t> bytes) {
  std::lock_guard lock(m_lock);
  auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.name == name; });
  if (it == m_entries.end()) {
    m_entries.push_back({std::move(name), false, std::move(bytes)});
  } else {
    *it = {std::move(name), false, std::move(bytes)};
  }
}

void MemoryDataStorage::AddDirectory(std::u16string name) {
  std::lock_guard lock(m_lock);
  m_entries.push_back({std::move(name), true, {}});
}

void MemoryDataStorage::FailEnumerate(result_t code) {
  std::lock_guard lock(m_lock);
  m_enumerateFailure = code;
}

void MemoryDataStorage::FailOpen(std::u16string name, result_t code) {
  std::lock_guard lock(m_lock);
  if (Failed(code)) {
    m_openFailures[std::move(name)] = code;
  } else {
    m_openFailures.erase(name);
  }
}

result_t MemoryDataStorage::EnumerateDirectory(const char16_t* directory, std::vector<StorageEntry>* out) {
  if (!directory || !out) return result::InvalidArgument;
  const std::u16string_view path(directory);
  if (path != u"/" && !path.empty()) return result::PathNotFound;
  std::lock_guard lock(m_lock);
  if (Failed(m_enumerateFailure)) return m_enumerateFailure;
  try {
    std::vector<StorageEntry> entries;
    entries.reserve(m_entries.size());
    for (const Entry& entry : m_entries) entries.push_back({entry.name, entry.isDirectory});
    *out = std::move(entries);
    return result::NoError;
  } catch (const std::bad_alloc&) {
    return result::OutOfMemory;
  }
}

result_t MemoryDataStorage::Open(const char16_t* name, uint32_t, IIO** out) {
  if (!out) return result::InvalidArgument;
  *out = nullptr;
  if (!name) return result::InvalidArgument;
  std::lock_guard lock(m_lock);
  try {
    m_opened.emplace_back(name);
    if (auto f = m_openFailures.find(name); f != m_openFailures.end()) return f->second;
    auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.name == name; });
    if (it == m_entries.end()) return result::FileNotFound;
    if (it->isDirectory) return result::AccessDenied;
    *out = MakeHostObject<MemoryIO>(it->bytes).Detach();
    return result::NoError;
  } catch (const std::bad_alloc&) {
    return result::OutOfMemory;
  }
}

std::vector<std::u16string> MemoryDataStorage::OpenedNames() const {
  std::lock_guard lock(m_lock);
  return m_opened;
}

}  // namespace host
