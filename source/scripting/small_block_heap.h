// Small blocks for a session-stage Lua state: most of what a state allocates
// (strings, closures, table parts, upvalues) is a few dozen bytes, and taking
// each from the C heap was a third of the cost of opening a session. Blocks
// of up to MaxSmall bytes come from slabs kept per size class; a freed block
// is reused by the next block of its class and the slabs go back when the
// state is closed. So what the heap holds is its slabs, free blocks
// included: that is what a state's memory cap must count.
#pragma once

#include <array>
#include <cstddef>

namespace dnt {

class SmallBlockHeap {
 public:
  static constexpr std::size_t Granule = 16;
  static constexpr std::size_t MaxSmall = 256;

  SmallBlockHeap() = default;
  ~SmallBlockHeap();
  SmallBlockHeap(const SmallBlockHeap&) = delete;
  SmallBlockHeap& operator=(const SmallBlockHeap&) = delete;

  static constexpr bool IsSmall(std::size_t size) noexcept { return size <= MaxSmall; }
  /// Whether two sizes share a block size (so a block of one serves the other).
  static constexpr bool SameClass(std::size_t a, std::size_t b) noexcept { return ClassOf(a) == ClassOf(b); }

  /// A block of at least `size` (1..MaxSmall) bytes; null when it needs a
  /// new slab and a slab is more than `room` bytes, or no slab can be had.
  void* Allocate(std::size_t size, std::size_t room) noexcept;
  /// Gives back a block allocated for `size` bytes.
  void Free(void* block, std::size_t size) noexcept;

  /// Bytes taken from the C heap: every slab, whether its blocks are in use
  /// or waiting on a free list.
  std::size_t HeldBytes() const noexcept { return m_slabCount * SlabSize; }

 private:
  static constexpr std::size_t SlabSize = 16 * 1024;
  static constexpr std::size_t Classes = MaxSmall / Granule;

  struct FreeBlock {
    FreeBlock* next;
  };
  struct Slab {
    Slab* next;
  };

  static constexpr std::size_t ClassOf(std::size_t size) noexcept { return (size + Granule - 1) / Granule; }

  std::array<FreeBlock*, Classes + 1> m_free{};
  char* m_cursor = nullptr;
  char* m_end = nullptr;
  Slab* m_slabs = nullptr;
  std::size_t m_slabCount = 0;
};

}  // namespace dnt
