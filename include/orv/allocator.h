// The host's memory service.
#pragma once

#include <cstddef>

#include "orv/object.h"

namespace orv {

class IAllocator : public IObject {
 public:
  static constexpr iid_t iid = 0x9cca5603;
  /// Returns a block of `size` bytes, or null when exhausted.
  virtual void* Allocate(size_t size) = 0;
  /// Resizes a block (null `block` allocates); null on failure, the old block kept.
  virtual void* Reallocate(void* block, size_t size) = 0;
  /// Gives a block back; null is ignored.
  virtual void Free(void* block) = 0;

 protected:
  ~IAllocator() = default;
};

}  // namespace orv
