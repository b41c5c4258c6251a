#include "source/scripting/pool_allocator.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace dnt {
namespace {

constexpr std::size_t ChunksFor(std::size_t bytes) noexcept {
  return bytes / PoolLuaAllocator::ChunkSize + (bytes % PoolLuaAllocator::ChunkSize != 0 ? 1 : 0);
}

}  // namespace

PoolLuaAllocator::~PoolLuaAllocator() {
  for (const auto& [run, chunks] : m_longRuns) std::free(run);
}

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
    // The block stays where it is; a short run's tail goes back now, a long
    // run's with the run.
    m_liveChunks -= oldChunks - newChunks;
    if (!m_longRuns.contains(ptr)) {
      m_runs.Free(static_cast<char*>(ptr) + newChunks * ChunkSize, (oldChunks - newChunks) * ChunkSize);
    }
    return ptr;
  }
  void* grown = Take(newChunks);
  if (!grown) return nullptr;
  std::memcpy(grown, ptr, oldSize);
  Give(ptr, oldChunks);
  return grown;
}

void* PoolLuaAllocator::Take(std::size_t chunks) noexcept {
  const std::size_t held = HeldBytes();
  const std::size_t room = held < m_limitBytes ? m_limitBytes - held : 0;
  void* run = chunks <= DiscoveryRuns::MaxSmall / ChunkSize ? m_runs.Allocate(chunks * ChunkSize, room)
                                                            : TakeLongRun(chunks, room);
  if (run) m_liveChunks += chunks;
  return run;
}

void* PoolLuaAllocator::TakeLongRun(std::size_t chunks, std::size_t room) noexcept {
  if (chunks > room / ChunkSize) return nullptr;
  void* run = std::malloc(chunks * ChunkSize);
  if (!run) return nullptr;
  try {
    m_longRuns.emplace(run, chunks);
  } catch (const std::bad_alloc&) {
    std::free(run);
    return nullptr;
  }
  m_longBytes += chunks * ChunkSize;
  return run;
}

void PoolLuaAllocator::Give(void* ptr, std::size_t chunks) noexcept {
  m_liveChunks -= chunks;
  if (const auto longRun = m_longRuns.find(ptr); longRun != m_longRuns.end()) {
    std::free(ptr);
    m_longBytes -= longRun->second * ChunkSize;
    m_longRuns.erase(longRun);
    return;
  }
  m_runs.Free(ptr, chunks * ChunkSize);
}

}  // namespace dnt
