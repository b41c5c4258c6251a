#pragma once

#include <string>
#include <vector>

#include "host/host_object.h"
#include "orv/data_storage.h"

namespace host {

/// A data storage over a directory on disk (UTF-8 path). Names are relative
/// to it, "/" being the directory itself; a name that would climb out of it
/// ("..") is refused. Open reads the whole file into a memory stream.
class DirectoryDataStorage final : public HostObject<orv::IDataStorage> {
 public:
  explicit DirectoryDataStorage(std::string root) : m_root(std::move(root)) {}

  /// Regular files and directories (links followed), in the platform's
  /// listing order; names that are not valid UTF-8 are left out.
  orv::result_t EnumerateDirectory(const char16_t* directory, std::vector<orv::StorageEntry>* out) override;
  orv::result_t Open(const char16_t* name, uint32_t flags, orv::IIO** out) override;

 private:
  /// The full path of `name`, or false when it is not a name inside the root.
  bool Resolve(const char16_t* name, std::string& path) const;

  std::string m_root;
};

}  // namespace host
