#include "source/scripting/pool_allocator.h"

#include <cstring>

namespace dnt {
namespace {

constexpr std::size_t ChunksFor(std::size_t bytes) noexcept {
  return bytes / PoolLuaAllocator::ChunkSize + (bytes % PoolLuaAllocator::ChunkSize != 0 ? 1 : 0);
}

}  // namespace

PoolLuaAllocator::PoolLuaAllocator(std::size_t limitBytes)
    : m_pool(ChunkSize, ChunksPerBlock, ChunksPerBlock), m_limitChunks(ChunksFor(limitBytes)) {}

void* PoolLuaAllocator::Allocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) noexcept {
  // Lua passes the type of the new object in osize when ptr is null.
  return static_cast<PoolLuaAllocator*>(ud)->Reallocate(ptr, ptr ? osize : 0, nsize);
}

void* PoolLuaAllocator::Reallocate(void* ptr, std::size_t oldSize, std::size_t newSize) noexcept {
  const std::size_t oldChunks = ChunksFor(oldSize);
  const std::size_t newChunks = ChunksFor(newSize);
  if (newChunks == 0) {
    if (ptr) Give(ptr, oldChunks);
    return nullptr;
  }
  if (!ptr) return Take(newChunks);
  if (newChunks == oldChunks) return ptr;
  if (newChunks < oldChunks) {
    // The block stays where it is; only its tail goes back.
    Give(static_cast<char*>(ptr) + newChunks * ChunkSize, oldChunks - newChunks);
    return ptr;
  }
  void* grown = Take(newChunks);
  if (!grown) return nullptr;
  std::memcpy(grown, ptr, oldSize);
  Give(ptr, oldChunks);
  return grown;
}

void* PoolLuaAllocator::Take(std::size_t chunks) noexcept {
  if (chunks <= MaxCachedRun) {
    if (FreeRun* run = m_freeRuns[chunks]) {
      m_freeRuns[chunks] = run->next;
      m_liveChunks += chunks;
      return run;
    }
  }
  if (chunks > m_limitChunks - m_heldChunks) return nullptr;
  void* p = m_pool.ordered_malloc(chunks);
  if (!p) return nullptr;
  m_heldChunks += chunks;
  m_liveChunks += chunks;
  return p;
}

void PoolLuaAllocator::Give(void* ptr, std::size_t chunks) noexcept {
  m_liveChunks -= chunks;
  if (chunks > MaxCachedRun) {
    m_pool.ordered_free(ptr, chunks);
    m_heldChunks -= chunks;
    return;
  }
  auto* run = static_cast<FreeRun*>(ptr);
  run->next = m_freeRuns[chunks];
  m_freeRuns[chunks] = run;
}

}  // namespace dnt
