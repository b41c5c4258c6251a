// What bounds one host's Lua state: the memory it may hold and the work one
// run may do. Work is counted in steps: the VM's instructions (through the
// count hook), the bytes the state allocates (through its allocator, which
// sees every block a concatenation, a buffer or a parse makes), and what
// the library functions that do bulk work without allocating charge before
// they do it. The limits object is the state's allocator userdata, so the
// count hook finds it through lua_getallocf: nothing a script can reach (the
// registry, the globals) stands between the hook and its budget.
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
  /// Bytes of data that cost one step: what a state allocates, and what a
  /// library function copies, compares or scans.
  static constexpr std::size_t BytesPerStep = 8;
  /// Blocks grown past this many bytes come as fresh pages from the system,
  /// whose faults cost about a step per byte; the bytes beyond are charged so.
  static constexpr std::size_t FreshPagesFrom = std::size_t{64} << 10;
  /// What the host keeps for each value a script hands it, beyond the bytes.
  static constexpr std::size_t HandedValueOverhead = 64;

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

  /// Gives `L` a fresh allowance and (re)arms its count hook; forgets the
  /// bytes handed to the host in the previous run.
  void Restart(lua_State* L) noexcept;

  /// Counts `steps` of work that a C function is about to do for the running
  /// script against the state's allowance (the count hook does not run inside
  /// C); raises the too-long error when the allowance cannot cover it.
  static void Charge(lua_State* L, double steps);
  /// Charge for handling `bytes` bytes of data.
  static void ChargeBytes(lua_State* L, std::size_t bytes) {
    Charge(L, static_cast<double>(bytes / BytesPerStep));
  }

  /// Counts `bytes` that the running script hands to the host (field values,
  /// URLs, response texts) against the state's memory cap until the next
  /// Restart: the host keeps them for the message being processed. Raises
  /// "not enough memory" when the state and the handed bytes would exceed it.
  static void ChargeHandedBytes(lua_State* L, std::size_t bytes);

  /// Counts `bytes` that a script object keeps on the C heap (a parsed URL's
  /// texts) against the state's memory cap, for as long as it keeps them;
  /// raises "not enough memory" when they would exceed it. Release gives
  /// them back; it raises nothing.
  static void HoldExternalBytes(lua_State* L, std::size_t bytes);
  static void ReleaseExternalBytes(lua_State* L, std::size_t bytes) noexcept;

  /// Whether the running script has spent its allowance: every error from
  /// then on, whatever Lua made of it, is the too-long error.
  static bool Exhausted(lua_State* L) noexcept;
  /// The host takes over from a script that failed: if it spent its
  /// allowance, the state allocates and collects again for the host (error
  /// texts), and `L` fails at the next instruction a script would run on it.
  /// The libraries' finalizers must be in place (RestoreLibraryFinalizers).
  static void Settle(lua_State* L) noexcept;
  /// HeldBytes of the limits of `L`.
  static std::size_t HeldBytesOf(lua_State* L) noexcept;
  static const char* TooLongMessage(lua_State* L) noexcept;

  /// Bytes the state holds from the C heap: pool chunks, or slabs and large
  /// blocks; free ones included.
  std::size_t HeldBytes() const noexcept;

 private:
  static void* PoolAllocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) noexcept;
  static void* HeapAllocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) noexcept;
  static void CountHook(lua_State* L, lua_Debug* ar);
  static StateLimits& Of(lua_State* L) noexcept;
  std::size_t LimitBytes() const noexcept;
  void CheckRoom(lua_State* L, std::size_t bytes);
  // Counts the growth of a block; false once the allowance is spent, when
  // the allocation is refused.
  bool AdmitGrowth(std::size_t bytes) noexcept;
  // A refused growth makes Lua collect the whole state before it gives up.
  void ChargeRefusal() noexcept;
  // Marks the allowance spent and stops the collector, so that the failures
  // that follow cost no collection each.
  void Exhaust() noexcept;
  // Exhaust, and make `L` fail at its next instruction.
  void Stop(lua_State* L) noexcept;
  // Raises the too-long error from the count hook, where hooks are off: as a
  // memory error, the one error for which Lua calls no message handler (a
  // handler called from here would run unbounded). The host reports it by
  // its true name, as the state is exhausted.
  [[noreturn]] void Overrun(lua_State* L);
  // `room` is how many more bytes the state may take from the C heap.
  void* Resize(void* ptr, std::size_t oldSize, std::size_t newSize, std::size_t room) noexcept;
  void* AllocateNew(std::size_t size, std::size_t room) noexcept;
  // Gives a block back to where it came from; the byte count is the caller's.
  void Release(void* ptr, std::size_t size) noexcept;

  // Both must outlive the state: the host closes the state first.
  std::unique_ptr<PoolLuaAllocator> m_pool;
  SessionBlocks m_small;
  lua_State* m_main = nullptr;
  std::size_t m_memoryLimit = 0;
  // Bytes of the blocks too large for the small-block heap.
  std::size_t m_largeBytes = 0;
  uint64_t m_instructionLimit;
  uint64_t m_instructions = 0;
  // Bytes handed to the host in this run.
  std::size_t m_handedBytes = 0;
  // Bytes that script objects keep on the C heap.
  std::size_t m_externalBytes = 0;
  bool m_exhausted = false;
  // Growth is refused: the allowance ran out while a script ran.
  bool m_refusing = false;
  bool m_stoppedCollector = false;
  const char* m_tooLongMessage;
};

/// Keeps the scripts of a state from removing or replacing its count hook:
/// debug.sethook does nothing, and no C library can be loaded (a fresh copy
/// of the debug library would bring the real sethook).
void GuardCountHook(lua_State* L);

}  // namespace dnt
