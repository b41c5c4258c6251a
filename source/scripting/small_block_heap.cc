#include "source/scripting/small_block_heap.h"

#include <cstdlib>

namespace dnt {

// Lua's blocks need the alignment of a double, a pointer or a long.
static_assert(SessionBlocks::Granule % alignof(double) == 0 && SessionBlocks::Granule % alignof(long) == 0);

template <std::size_t GranuleBytes, std::size_t MaxGranules, std::size_t SlabBytes>
SmallBlockHeap<GranuleBytes, MaxGranules, SlabBytes>::~SmallBlockHeap() {
  while (m_slabs) {
    Slab* next = m_slabs->next;
    std::free(m_slabs);
    m_slabs = next;
  }
}

template <std::size_t GranuleBytes, std::size_t MaxGranules, std::size_t SlabBytes>
void* SmallBlockHeap<GranuleBytes, MaxGranules, SlabBytes>::Allocate(std::size_t size, std::size_t room) noexcept {
  if (void* block = TryAllocate(size)) return block;
  if (room < SlabSize) return nullptr;
  // The rest of the current slab is too small for this class: it serves
  // smaller classes later instead of being lost.
  while (static_cast<std::size_t>(m_end - m_cursor) >= Granule) {
    const std::size_t rest = static_cast<std::size_t>(m_end - m_cursor);
    const std::size_t restClass = rest / Granule < Classes ? rest / Granule : Classes;
    Free(m_cursor, restClass * Granule);
    m_cursor += restClass * Granule;
  }
  auto* slab = static_cast<Slab*>(std::malloc(SlabSize));
  if (!slab) return nullptr;
  slab->next = m_slabs;
  m_slabs = slab;
  ++m_slabCount;
  m_cursor = reinterpret_cast<char*>(slab) + Granule;
  m_end = reinterpret_cast<char*>(slab) + SlabSize;
  return TryAllocate(size);
}

template class SmallBlockHeap<8, 32, 4 * 1024>;
template class SmallBlockHeap<16, 1023, 16 * 1024>;

}  // namespace dnt
