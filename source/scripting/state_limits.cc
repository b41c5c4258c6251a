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

int IgnoreSetHook(lua_State*) { return 0; }

// package.loadlib's own way of failing: nil, a message, where it failed.
int RefuseLoadLibrary(lua_State* L) {
  lua_pushnil(L);
  lua_pushliteral(L, "C libraries are not loaded at the script discovery stage");
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

lua_State* StateLimits::NewState() { return lua_newstate(m_pool ? &PoolAllocate : &HeapAllocate, this); }

void* StateLimits::PoolAllocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) noexcept {
  return PoolLuaAllocator::Allocate(static_cast<StateLimits*>(ud)->m_pool.get(), ptr, osize, nsize);
}

std::size_t StateLimits::HeldBytes() const noexcept {
  return m_pool ? m_pool->HeldBytes() : m_small.HeldBytes() + m_largeBytes;
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
  // large block that becomes small takes a slab past the limit.
  const std::size_t held = self.HeldBytes();
  const std::size_t room = nsize <= oldSize ? SIZE_MAX : held < self.m_memoryLimit ? self.m_memoryLimit - held : 0;
  return self.Resize(ptr, oldSize, nsize, room);
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
  m_exhausted = false;
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
  if (!self.m_exhausted && steps <= static_cast<double>(self.m_instructionLimit - self.m_instructions)) {
    self.m_instructions += static_cast<uint64_t>(steps);
    return;
  }
  self.Overrun(L);
}

void StateLimits::Overrun(lua_State* L) {
  m_exhausted = true;
  // From here on every instruction fails, so a script that catches the
  // error with pcall cannot go on either.
  lua_sethook(L, &CountHook, LUA_MASKCOUNT, 1);
  luaL_error(L, "%s", m_tooLongMessage);
}

void GuardDiscoveryHook(lua_State* L) {
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
