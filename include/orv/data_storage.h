// The host's data storage and packed-IO factory, an alternative to a bases
// directory on disk.
#pragma once

#include <string>
#include <vector>

#include "orv/io.h"

namespace orv {

struct StorageEntry {
  std::u16string name;
  bool isDirectory = false;
};

class IDataStorage : public IObject {
 public:
  /// Interface id assigned by this SDK (the host framework leaves it open).
  static constexpr iid_t iid = 0x10a1e002;
  /// Lists the entries of `directory` ("/" is the root) in the storage's order.
  virtual result_t EnumerateDirectory(const char16_t* directory, std::vector<StorageEntry>* out) = 0;
  /// Opens a stream over the (packed) file `name`.
  virtual result_t Open(const char16_t* name, uint32_t flags, IIO** out) = 0;

 protected:
  ~IDataStorage() = default;
};

class IPackedIOFactory : public IObject {
 public:
  static constexpr iid_t iid = 0x5fd84aff;
  /// Returns a stream over the unpacked content of `packed`.
  virtual result_t CreateUnpackedIO(IIO* packed, IIO** out) = 0;

 protected:
  ~IPackedIOFactory() = default;
};

}  // namespace orv
