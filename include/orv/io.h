// The host's byte stream.
#pragma once

#include <cstdint>

#include "orv/object.h"

namespace orv {

namespace seek_origin {
inline constexpr uint32_t Begin = 0;
inline constexpr uint32_t Current = 1;
inline constexpr uint32_t End = 2;
}  // namespace seek_origin

class IIO : public IObject {
 public:
  /// Interface id assigned by this SDK (the host framework leaves it open).
  static constexpr iid_t iid = 0x10a1e001;
  /// Reads up to `size` bytes; `*read` receives the count (0 at the end).
  virtual result_t Read(void* destination, uint32_t size, uint32_t* read) = 0;
  virtual result_t Write(const void* source, uint32_t size, uint32_t* written) = 0;
  /// Moves the position; `newPosition` may be null.
  virtual result_t Seek(uint32_t origin, int64_t offset, uint64_t* newPosition) = 0;
  virtual result_t GetSize(uint64_t* size) = 0;
  virtual result_t SetSize(uint64_t size) = 0;
  virtual result_t Flush() = 0;

 protected:
  ~IIO() = default;
};

}  // namespace orv
