// Blocks smaller than a slab for a Lua state. Most of what a session state
// allocates (strings, closures, table parts, upvalues) is a few dozen bytes,
// and taking each from the C heap was a third of the cost of opening a
// session; the discovery state's chunk runs come from here too. Blocks of up
// to MaxGranules 16-byte granules come from 16 KiB slabs and are kept per
// size class; a freed block is reused by the next block of its class, and
// the slabs go back when the heap is destroyed. So what the heap holds is
// its slabs, free blocks included: that is what a state's memory cap counts.
#pragma once

#include <array>
#include <cstddef>

namespace dnt {

template <std::size_t MaxGranules>
class SmallBlockHeap {
 public:
  static constexpr std::size_t Granule = 16;
  static constexpr std::size_t MaxSmall = MaxGranules * Granule;

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
  /// Gives back a block allocated for `size` bytes, or any whole granules of one.
  void Free(void* block, std::size_t size) noexcept;

  /// Bytes taken from the C heap: every slab, whether its blocks are in use
  /// or waiting on a free list.
  std::size_t HeldBytes() const noexcept { return m_slabCount * SlabSize; }

 private:
  static constexpr std::size_t SlabSize = 16 * 1024;
  static constexpr std::size_t Classes = MaxGranules;
  // The slab header takes one granule.
  static_assert(MaxSmall + Granule <= SlabSize);

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

/// The session state's small blocks: up to 256 bytes.
using SessionBlocks = SmallBlockHeap<16>;
/// The discovery state's chunk runs: up to a slab less its header.
using DiscoveryRuns = SmallBlockHeap<1023>;

}  // namespace dnt
