#include "source/scripting/small_block_heap.h"

#include <cstdlib>

namespace dnt {

// The slab header takes one granule, so every block stays 16-byte aligned.
static_assert(sizeof(void*) <= SessionBlocks::Granule);

template <std::size_t MaxGranules>
SmallBlockHeap<MaxGranules>::~SmallBlockHeap() {
  while (m_slabs) {
    Slab* next = m_slabs->next;
    std::free(m_slabs);
    m_slabs = next;
  }
}

template <std::size_t MaxGranules>
void* SmallBlockHeap<MaxGranules>::Allocate(std::size_t size, std::size_t room) noexcept {
  const std::size_t sizeClass = ClassOf(size);
  if (FreeBlock* block = m_free[sizeClass]) {
    m_free[sizeClass] = block->next;
    return block;
  }
  const std::size_t bytes = sizeClass * Granule;
  if (static_cast<std::size_t>(m_end - m_cursor) < bytes) {
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
  }
  void* block = m_cursor;
  m_cursor += bytes;
  return block;
}

template <std::size_t MaxGranules>
void SmallBlockHeap<MaxGranules>::Free(void* block, std::size_t size) noexcept {
  const std::size_t sizeClass = ClassOf(size);
  auto* freed = static_cast<FreeBlock*>(block);
  freed->next = m_free[sizeClass];
  m_free[sizeClass] = freed;
}

template class SmallBlockHeap<16>;
template class SmallBlockHeap<1023>;

}  // namespace dnt
