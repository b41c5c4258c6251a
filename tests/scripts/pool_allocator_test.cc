#include "source/scripting/pool_allocator.h"

#include <gtest/gtest.h>

#include <cstring>

namespace dnt {
namespace {

void* Call(PoolLuaAllocator& pool, void* p, std::size_t oldSize, std::size_t newSize) {
  return PoolLuaAllocator::Allocate(&pool, p, oldSize, newSize);
}

// The limit counts what the pool holds: whole slabs, and runs longer than a
// slab, which go back when freed and shrink in place until then.
TEST(PoolAllocatorTest, HoldsNoMoreThanItsLimit) {
  constexpr std::size_t Slab = 16 * 1024;
  PoolLuaAllocator pool(2 * Slab);
  void* a = Call(pool, nullptr, 0, 48);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(pool.HeldBytes(), Slab);
  void* b = Call(pool, nullptr, 0, Slab - 32);  // more than the first slab has left
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Call(pool, nullptr, 0, Slab - 32), nullptr);
  EXPECT_EQ(Call(pool, a, 48, Slab + 16), nullptr);  // a failed grow keeps the block
  EXPECT_EQ(pool.LiveChunks(), 3u + 1022u);
  Call(pool, b, Slab - 32, 0);  // waits for reuse, still held
  EXPECT_EQ(pool.HeldBytes(), 2 * Slab);
  EXPECT_EQ(Call(pool, nullptr, 0, static_cast<std::size_t>(-1)), nullptr);
  Call(pool, a, 48, 0);

  PoolLuaAllocator big(1 << 20);
  auto* large = static_cast<char*>(Call(big, nullptr, 0, 100000));
  ASSERT_NE(large, nullptr);
  std::memset(large, 1, 100000);
  EXPECT_EQ(Call(big, large, 100000, 40), large);
  EXPECT_EQ(big.LiveChunks(), 3u);
  EXPECT_EQ(big.HeldBytes(), 100000u);
  EXPECT_EQ(Call(big, large, 40, 0), nullptr);
  EXPECT_EQ(big.HeldBytes(), 0u);
}

}  // namespace
}  // namespace dnt
