#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/host_object.h"
#include "orv/data_storage.h"

namespace host {

/// A data storage held in memory: a flat root of named files (and, for
/// tests, names marked as directories), listed in the order they were added.
/// Enumeration and opening can be made to fail.
class MemoryDataStorage final : public HostObject<orv::IDataStorage> {
 public:
  /// Adds or replaces the file `name`.
  void AddFile(std::u16string name, std::vector<uint8_t> bytes);
  /// Adds an entry listed as a directory; opening it fails.
  void AddDirectory(std::u16string name);
  /// A failure code makes the call fail from now on; NoError heals it.
  void FailEnumerate(orv::result_t code);
  void FailOpen(std::u16string name, orv::result_t code);

  /// Only the root ("/" or "") exists.
  orv::result_t EnumerateDirectory(const char16_t* directory, std::vector<orv::StorageEntry>* out) override;
  /// Opens a stream over a copy of the file's bytes.
  orv::result_t Open(const char16_t* name, uint32_t flags, orv::IIO** out) override;

  /// Names passed to Open so far, in call order.
  std::vector<std::u16string> OpenedNames() const;

 private:
  struct Entry {
    std::u16string name;
    bool isDirectory = false;
    std::vector<uint8_t> bytes;
  };

  mutable std::mutex m_lock;
  std::vector<Entry> m_entries;
  orv::result_t m_enumerateFailure = orv::result::NoError;
  std::map<std::u16string, orv::result_t> m_openFailures;
  std::vector<std::u16string> m_opened;
};

}  // namespace host
