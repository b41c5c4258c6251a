// The allocation function of the discovery-stage Lua state: 16-byte chunks
// out of large pool blocks, so compiling every script of the bases costs a
// few big allocations that all go away together with the state.
#pragma once

#include <array>
#include <cstddef>

#include <boost/pool/pool.hpp>

namespace dnt {

class PoolLuaAllocator {
 public:
  static constexpr std::size_t ChunkSize = 16;
  static constexpr std::size_t ChunksPerBlock = 1024;

  /// `limitBytes` caps the memory taken from the pool (in whole chunks), so a runaway script fails with a Lua memory error instead of
  /// taking the process's memory.
  explicit PoolLuaAllocator(std::size_t limitBytes);
  PoolLuaAllocator(const PoolLuaAllocator&) = delete;
  PoolLuaAllocator& operator=(const PoolLuaAllocator&) = delete;

  /// lua_Alloc over the pool; `ud` is the PoolLuaAllocator.
  static void* Allocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) noexcept;

  /// Chunks handed out to Lua and not yet returned.
  std::size_t LiveChunks() const noexcept { return m_liveChunks; }
  /// Bytes taken from the pool, live or waiting for reuse.
  std::size_t HeldBytes() const noexcept { return m_heldChunks * ChunkSize; }

 private:
  struct FreeRun {
    FreeRun* next;
  };

  void* Reallocate(void* ptr, std::size_t oldSize, std::size_t newSize) noexcept;
  void* Take(std::size_t chunks) noexcept;
  void Give(void* ptr, std::size_t chunks) noexcept;

  boost::pool<boost::default_user_allocator_new_delete> m_pool;
  // Returned runs of up to one block, by length. The pool's own ordered free
  // list costs a walk per free, which turns quadratic for a script that
  // allocates much; runs of the same length are reused in constant time.
  // Longer runs go back to the pool.
  static constexpr std::size_t MaxCachedRun = ChunksPerBlock;
  std::array<FreeRun*, MaxCachedRun + 1> m_freeRuns{};
  std::size_t m_liveChunks = 0;
  // Chunks taken from the pool, live or waiting for reuse.
  std::size_t m_heldChunks = 0;
  std::size_t m_limitChunks;
};

}  // namespace dnt
