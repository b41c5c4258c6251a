#include "source/scripting/state_limits.h"

#include <lua.hpp>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "source/scripting/pool_allocator.h"

namespace dnt {
namespace {

// Positions of the C library searchers in package.searchers: the last two
// of the four that the package library installs.
constexpr int CLibrarySearcher = 3;
constexpr int AllInOneSearcher = 4;
// What the count hook asks for to raise a memory error: more than any state
// may hold, and too large for the small-block heap's fast path.
constexpr std::size_t OverrunBlock = std::size_t{1} << 40;

int IgnoreSetHook(lua_State*) { return 0; }

// package.loadlib's own way of failing: nil, a message, where it failed.
int RefuseLoadLibrary(lua_State* L) {
  lua_pushnil(L);
  lua_pushliteral(L, "C libraries are not loaded by base scripts");
  lua_pushliteral(L, "absent");
  return 3;
}

}  // namespace

StateLimits::StateLimits(std::unique_ptr<PoolLuaAllocator> pool, uint64_t instructionLimit,
                         const char* tooLongMessage) noexcept
    : m_pool(std::move(pool)), m_instructionLimit(instructionLimit), m_tooLongMessage(tooLongMessage) {}

StateLimits::StateLimits(std::size_t memoryLimit, uint64_t instructionLimit, const char* tooLongMessage) noexcept
    : m_memoryLimit(memoryLimit), m_instructionLimit(instructionLimit), m_tooLongMessage(tooLongMessage) {}

StateLimits::~StateLimits() = default;

lua_State* StateLimits::NewState() {
  m_main = lua_newstate(m_pool ? &PoolAllocate : &HeapAllocate, this);
  return m_main;
}

void* StateLimits::PoolAllocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) noexcept {
  auto& self = *static_cast<StateLimits*>(ud);
  // Lua passes the type of the new object in osize when ptr is null.
  const std::size_t oldSize = ptr ? osize : 0;
  const std::size_t growth = nsize > oldSize ? nsize - oldSize : 0;
  if (growth > 0 && !self.AdmitGrowth(growth)) return nullptr;
  // The pool bounds what it holds; what script objects keep elsewhere
  // shares the cap.
  const std::size_t held = self.HeldBytes();
  void* block = growth > 0 && held + growth > self.m_pool->LimitBytes() && self.m_externalBytes > 0
                    ? nullptr
                    : PoolLuaAllocator::Allocate(self.m_pool.get(), ptr, osize, nsize);
  if (!block && growth > 0) self.ChargeRefusal();
  return block;
}

std::size_t StateLimits::LimitBytes() const noexcept { return m_pool ? m_pool->LimitBytes() : m_memoryLimit; }

bool StateLimits::AdmitGrowth(std::size_t bytes) noexcept {
  if (m_refusing) return false;
  if (m_exhausted) return true;  // the host's own work after the script failed
  const std::size_t fresh = bytes > FreshPagesFrom ? bytes - FreshPagesFrom : 0;
  m_instructions += (bytes - fresh) / BytesPerStep + fresh + 1;
  if (m_instructions <= m_instructionLimit) return true;
  Exhaust();
  return false;
}

void StateLimits::ChargeRefusal() noexcept {
  if (m_exhausted) return;
  m_instructions += HeldBytes() / BytesPerStep;
  if (m_instructions > m_instructionLimit) Exhaust();
}

void StateLimits::Exhaust() noexcept {
  m_exhausted = true;
  m_refusing = true;
  // A stopped collector also runs no finalizer and makes no emergency
  // collection before a refused allocation fails.
  if (m_main && !m_stoppedCollector && lua_gc(m_main, LUA_GCISRUNNING, 0)) {
    lua_gc(m_main, LUA_GCSTOP, 0);
    m_stoppedCollector = true;
  }
}

void StateLimits::Stop(lua_State* L) noexcept {
  Exhaust();
  // From here on every instruction fails, so a script that catches the
  // error with pcall cannot go on either.
  lua_sethook(L, &CountHook, LUA_MASKCOUNT, 1);
}

std::size_t StateLimits::HeldBytes() const noexcept {
  return (m_pool ? m_pool->HeldBytes() : m_small.HeldBytes() + m_largeBytes) + m_externalBytes;
}

void* StateLimits::HeapAllocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) noexcept {
  auto& self = *static_cast<StateLimits*>(ud);
  if (nsize == 0) {
    if (ptr) self.Release(ptr, osize);
    return nullptr;
  }
  // Most calls make a small object: served from a free list or the current
  // slab, which needs no look at the limit.
  if (!ptr && SessionBlocks::IsSmall(nsize)) {
    if (void* block = self.m_small.TryAllocate(nsize)) return block;
  }
  // Lua passes the type of the new object in osize when ptr is null.
  const std::size_t oldSize = ptr ? osize : 0;
  // Only growth is refused: Lua requires shrinking to succeed, even when a
  // large block that becomes small takes a slab past the limit. Growth is
  // charged here, past the fast path: a block of more than a small one, or a
  // new slab.
  const std::size_t growth = nsize > oldSize ? nsize - oldSize : 0;
  if (growth > 0 && !self.AdmitGrowth(growth)) return nullptr;
  const std::size_t held = self.HeldBytes() + self.m_handedBytes;
  const std::size_t room = nsize <= oldSize ? SIZE_MAX : held < self.m_memoryLimit ? self.m_memoryLimit - held : 0;
  void* block = self.Resize(ptr, oldSize, nsize, room);
  if (!block && growth > 0) self.ChargeRefusal();
  return block;
}

void StateLimits::Release(void* ptr, std::size_t size) noexcept {
  if (SessionBlocks::IsSmall(size)) {
    m_small.Free(ptr, size);
  } else {
    std::free(ptr);
    m_largeBytes -= size;
  }
}

void* StateLimits::AllocateNew(std::size_t size, std::size_t room) noexcept {
  if (SessionBlocks::IsSmall(size)) return m_small.Allocate(size, room);
  if (size > room) return nullptr;
  void* block = std::malloc(size);
  if (block) m_largeBytes += size;
  return block;
}

// Small blocks live in the small-block heap, larger ones on the C heap; a
// block moves between them when its size crosses the line.
void* StateLimits::Resize(void* ptr, std::size_t oldSize, std::size_t newSize, std::size_t room) noexcept {
  const bool wasSmall = ptr && SessionBlocks::IsSmall(oldSize);
  const bool small = SessionBlocks::IsSmall(newSize);
  if (ptr && !wasSmall && !small) {
    if (newSize > oldSize && newSize - oldSize > room) return nullptr;
    void* block = std::realloc(ptr, newSize);
    if (block) m_largeBytes = m_largeBytes - oldSize + newSize;
    return block;
  }
  if (wasSmall && small && SessionBlocks::SameClass(oldSize, newSize)) return ptr;
  void* block = AllocateNew(newSize, room);
  if (!block || !ptr) return block;
  std::memcpy(block, ptr, oldSize < newSize ? oldSize : newSize);
  Release(ptr, oldSize);
  return block;
}

void StateLimits::Restart(lua_State* L) noexcept {
  m_instructions = 0;
  m_handedBytes = 0;
  m_exhausted = false;
  m_refusing = false;
  if (m_stoppedCollector) {
    lua_gc(L, LUA_GCRESTART, 0);
    m_stoppedCollector = false;
  }
  lua_sethook(L, &CountHook, LUA_MASKCOUNT, HookPeriod);
}

StateLimits& StateLimits::Of(lua_State* L) noexcept {
  void* ud = nullptr;
  lua_getallocf(L, &ud);
  return *static_cast<StateLimits*>(ud);
}

void StateLimits::CountHook(lua_State* L, lua_Debug*) {
  StateLimits& self = Of(L);
  if (!self.m_exhausted) {
    // The thread's own period: a coroutine may still run with the period
    // of 1 that an earlier overrun left on it.
    self.m_instructions += static_cast<uint64_t>(lua_gethookcount(L));
    if (self.m_instructions <= self.m_instructionLimit) return;
  }
  self.Overrun(L);
}

void StateLimits::Charge(lua_State* L, double steps) {
  StateLimits& self = Of(L);
  if (!self.m_exhausted && self.m_instructions <= self.m_instructionLimit &&
      steps <= static_cast<double>(self.m_instructionLimit - self.m_instructions)) {
    self.m_instructions += static_cast<uint64_t>(steps);
    return;
  }
  self.Stop(L);
  // Raised in a C function, where hooks run: a message handler that the
  // error calls fails at its first instruction.
  luaL_error(L, "%s", self.m_tooLongMessage);
}

// Raises Lua's memory error (its text; the bytes count as the state's) when
// `bytes` more would take the state past its cap.
void StateLimits::CheckRoom(lua_State* L, std::size_t bytes) {
  const std::size_t limit = LimitBytes();
  const std::size_t held = HeldBytes() + m_handedBytes;
  if (held > limit || bytes > limit - held) {
    lua_pushliteral(L, "not enough memory");
    lua_error(L);
  }
}

void StateLimits::ChargeHandedBytes(lua_State* L, std::size_t bytes) {
  ChargeBytes(L, bytes);
  StateLimits& self = Of(L);
  const std::size_t handed = bytes + HandedValueOverhead;
  self.CheckRoom(L, handed);
  self.m_handedBytes += handed;
}

void StateLimits::HoldExternalBytes(lua_State* L, std::size_t bytes) {
  StateLimits& self = Of(L);
  self.CheckRoom(L, bytes);
  self.m_externalBytes += bytes;
}

void StateLimits::ReleaseExternalBytes(lua_State* L, std::size_t bytes) noexcept {
  StateLimits& self = Of(L);
  self.m_externalBytes -= bytes < self.m_externalBytes ? bytes : self.m_externalBytes;
}

bool StateLimits::Exhausted(lua_State* L) noexcept { return Of(L).m_exhausted; }

void StateLimits::Settle(lua_State* L) noexcept {
  StateLimits& self = Of(L);
  if (!self.m_exhausted) return;
  self.m_refusing = false;
  // The host may need the garbage of the failed script collected to make
  // its error text.
  if (self.m_stoppedCollector) {
    lua_gc(L, LUA_GCRESTART, 0);
    self.m_stoppedCollector = false;
  }
  lua_sethook(L, &CountHook, LUA_MASKCOUNT, 1);
}

std::size_t StateLimits::HeldBytesOf(lua_State* L) noexcept { return Of(L).HeldBytes(); }

const char* StateLimits::TooLongMessage(lua_State* L) noexcept { return Of(L).m_tooLongMessage; }

void StateLimits::Overrun(lua_State* L) {
  Stop(L);
  // Refused, as the state is exhausted: Lua raises its memory error.
  lua_newuserdata(L, OverrunBlock);
  luaL_error(L, "%s", m_tooLongMessage);
  std::abort();
}

void GuardCountHook(lua_State* L) {
  luaL_getsubtable(L, LUA_REGISTRYINDEX, "_LOADED");
  lua_getfield(L, -1, LUA_DBLIBNAME);
  lua_pushcfunction(L, &IgnoreSetHook);
  lua_setfield(L, -2, "sethook");
  lua_pop(L, 1);

  lua_getfield(L, -1, LUA_LOADLIBNAME);
  lua_pushcfunction(L, &RefuseLoadLibrary);
  lua_setfield(L, -2, "loadlib");
  lua_getfield(L, -1, "searchers");
  lua_pushnil(L);
  lua_rawseti(L, -2, AllInOneSearcher);
  lua_pushnil(L);
  lua_rawseti(L, -2, CLibrarySearcher);
  lua_pop(L, 3);
}

}  // namespace dnt
