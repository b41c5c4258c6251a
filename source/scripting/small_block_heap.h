// Blocks smaller than a slab for a Lua state. Most of what a session state
// allocates (strings, closures, table parts, upvalues) is a few dozen bytes,
// and taking each from the C heap was a third of the cost of opening a
// session; the discovery state's chunk runs come from here too. Blocks of up
// to MaxGranules granules come from SlabBytes slabs and are kept per
// size class; a freed block is reused by the next block of its class, and
// the slabs go back when the heap is destroyed. So what the heap holds is
// its slabs, free blocks included: that is what a state's memory cap counts.
#pragma once

#include <array>
#include <cstddef>

namespace dnt {

template <std::size_t GranuleBytes, std::size_t MaxGranules, std::size_t SlabBytes>
class SmallBlockHeap {
 public:
  static constexpr std::size_t Granule = GranuleBytes;
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
  /// Allocate without taking a new slab: a block from the free list of its
  /// class or from the rest of the current slab, else null. Inline, as most
  /// of a state's allocations end here.
  void* TryAllocate(std::size_t size) noexcept {
    const std::size_t sizeClass = ClassOf(size);
    if (FreeBlock* block = m_free[sizeClass]) {
      m_free[sizeClass] = block->next;
      return block;
    }
    const std::size_t bytes = sizeClass * Granule;
    if (static_cast<std::size_t>(m_end - m_cursor) < bytes) return nullptr;
    void* block = m_cursor;
    m_cursor += bytes;
    return block;
  }
  /// Gives back a block allocated for `size` bytes, or any whole granules of one.
  void Free(void* block, std::size_t size) noexcept {
    const std::size_t sizeClass = ClassOf(size);
    auto* freed = static_cast<FreeBlock*>(block);
    freed->next = m_free[sizeClass];
    m_free[sizeClass] = freed;
  }

  /// Bytes taken from the C heap: every slab, whether its blocks are in use
  /// or waiting on a free list.
  std::size_t HeldBytes() const noexcept { return m_slabCount * SlabSize; }

 private:
  static constexpr std::size_t SlabSize = SlabBytes;
  static constexpr std::size_t Classes = MaxGranules;
  // The slab header takes one granule, which keeps every block aligned to
  // the granule; a free block keeps its link in its first bytes.
  static_assert(MaxSmall + Granule <= SlabSize);
  static_assert(sizeof(void*) <= Granule && Granule % alignof(void*) == 0);

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

/// The session state's small blocks: up to 256 bytes in 8-byte granules (all
/// Lua asks of a block, and 16 left 4 bytes per object unused on average),
/// from 4 KiB slabs. A session holds some 40 KB of them; 16 KiB slabs left
/// 4 KB more of the last one unused per session, for 1% less time.
using SessionBlocks = SmallBlockHeap<8, 32, 4 * 1024>;
/// The discovery state's chunk runs: 16-byte chunks, up to a 16 KiB slab less
/// its header.
using DiscoveryRuns = SmallBlockHeap<16, 1023, 16 * 1024>;

}  // namespace dnt
