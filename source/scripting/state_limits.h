// What bounds one host's Lua state: the memory it may hold and the VM
// instructions one run may execute. The limits object is the state's
// allocator userdata, so the count hook finds it through lua_getallocf:
// nothing a script can reach (the registry, the globals) stands between the
// hook and its budget.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "source/scripting/small_block_heap.h"

struct lua_State;
struct lua_Debug;

namespace dnt {

class PoolLuaAllocator;

class StateLimits {
 public:
  /// The count hook runs every this many VM instructions.
  static constexpr int HookPeriod = 10000;

  /// Memory comes from `pool`, which bounds it itself.
  StateLimits(std::unique_ptr<PoolLuaAllocator> pool, uint64_t instructionLimit, const char* tooLongMessage) noexcept;
  /// Memory comes from the C heap (small blocks from slabs of this object):
  /// at most `memoryLimit` bytes held at once, the slabs' free blocks included.
  StateLimits(std::size_t memoryLimit, uint64_t instructionLimit, const char* tooLongMessage) noexcept;
  ~StateLimits();
  StateLimits(const StateLimits&) = delete;
  StateLimits& operator=(const StateLimits&) = delete;

  /// Makes a state whose allocator userdata is this object; null on failure.
  lua_State* NewState();

  /// Gives `L` a fresh instruction allowance and (re)arms its count hook.
  void Restart(lua_State* L) noexcept;

  /// Counts `steps` of work that a C function is about to do for the running
  /// script against the state's instruction allowance (the count hook does not
  /// run inside C); raises the too-long error when the allowance cannot cover it.
  static void Charge(lua_State* L, double steps);

  /// Bytes the state holds from the C heap: pool chunks, or slabs and large
  /// blocks; free ones included.
  std::size_t HeldBytes() const noexcept;

 private:
  static void* PoolAllocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) noexcept;
  static void* HeapAllocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) noexcept;
  static void CountHook(lua_State* L, lua_Debug* ar);
  static StateLimits& Of(lua_State* L) noexcept;
  // Marks the allowance spent and raises the too-long error.
  void Overrun(lua_State* L);
  // `room` is how many more bytes the state may take from the C heap.
  void* Resize(void* ptr, std::size_t oldSize, std::size_t newSize, std::size_t room) noexcept;
  void* AllocateNew(std::size_t size, std::size_t room) noexcept;
  // Gives a block back to where it came from; the byte count is the caller's.
  void Release(void* ptr, std::size_t size) noexcept;

  // Both must outlive the state: the host closes the state first.
  std::unique_ptr<PoolLuaAllocator> m_pool;
  SessionBlocks m_small;
  std::size_t m_memoryLimit = 0;
  // Bytes of the blocks too large for the small-block heap.
  std::size_t m_largeBytes = 0;
  uint64_t m_instructionLimit;
  uint64_t m_instructions = 0;
  bool m_exhausted = false;
  const char* m_tooLongMessage;
};

/// Keeps the scripts of a discovery-stage state from removing or replacing
/// its count hook: debug.sethook does nothing there, and no C library can be
/// loaded (a fresh copy of the debug library would bring the real sethook).
void GuardDiscoveryHook(lua_State* L);

}  // namespace dnt
