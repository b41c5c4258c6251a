// The module's live-object count: every object the library creates counts
// while its memory is held, and the module may be unloaded only at zero.
#pragma once

#include <cstdint>

namespace orv::module {

void AddObject() noexcept;
void RemoveObject() noexcept;
uint32_t LiveObjects() noexcept;

/// Counts its owner as a live object of the module for the owner's lifetime.
class ObjectCounter {
 public:
  ObjectCounter() noexcept { AddObject(); }
  ObjectCounter(const ObjectCounter&) noexcept { AddObject(); }
  ObjectCounter& operator=(const ObjectCounter&) noexcept { return *this; }
  ~ObjectCounter() { RemoveObject(); }
};

}  // namespace orv::module
