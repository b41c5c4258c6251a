// The allocation function of the discovery-stage Lua state: runs of 16-byte
// chunks out of large blocks, so compiling every script of the bases costs a
// few big allocations that all go away together with the state.
#pragma once

#include <cstddef>
#include <map>

#include "source/scripting/small_block_heap.h"

namespace dnt {

class PoolLuaAllocator {
 public:
  static constexpr std::size_t ChunkSize = DiscoveryRuns::Granule;

  /// `limitBytes` caps the memory held (blocks, with the runs waiting in them
  /// for reuse, and long runs), so a runaway script fails with a Lua memory
  /// error instead of taking the process's memory.
  explicit PoolLuaAllocator(std::size_t limitBytes) noexcept : m_limitBytes(limitBytes) {}
  ~PoolLuaAllocator();
  PoolLuaAllocator(const PoolLuaAllocator&) = delete;
  PoolLuaAllocator& operator=(const PoolLuaAllocator&) = delete;

  /// lua_Alloc over the pool; `ud` is the PoolLuaAllocator.
  static void* Allocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) noexcept;

  std::size_t LimitBytes() const noexcept { return m_limitBytes; }
  /// Chunks handed out to Lua and not yet returned.
  std::size_t LiveChunks() const noexcept { return m_liveChunks; }
  /// Bytes held from the C heap, live or waiting for reuse.
  std::size_t HeldBytes() const noexcept { return m_runs.HeldBytes() + m_longBytes; }

 private:
  void* Reallocate(void* ptr, std::size_t oldSize, std::size_t newSize) noexcept;
  void* Take(std::size_t chunks) noexcept;
  void* TakeLongRun(std::size_t chunks, std::size_t room) noexcept;
  void Give(void* ptr, std::size_t chunks) noexcept;

  // Runs that fit in a block, reused by length in constant time. (A pool
  // that searches its free list for n free chunks in a row, chunk by chunk,
  // made a script that grows one string take minutes.)
  DiscoveryRuns m_runs;
  // Longer runs, from the C heap by address, with the chunks each took:
  // shrinking keeps a run in place, so its own size no longer tells.
  std::map<void*, std::size_t> m_longRuns;
  std::size_t m_longBytes = 0;
  std::size_t m_liveChunks = 0;
  std::size_t m_limitBytes;
};

}  // namespace dnt
