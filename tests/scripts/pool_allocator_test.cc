#include "source/scripting/pool_allocator.h"

#include <gtest/gtest.h>

#include <cstring>

namespace dnt {
namespace {

void* Call(PoolLuaAllocator& pool, void* p, std::size_t oldSize, std::size_t newSize) {
  return PoolLuaAllocator::Allocate(&pool, p, oldSize, newSize);
}

TEST(PoolAllocatorTest, ShrinkStaysInPlaceAndGrowCopies) {
  PoolLuaAllocator pool(1 << 20);
  // With a null block Lua passes an object type in osize: it is no size.
  auto* block = static_cast<char*>(Call(pool, nullptr, 4, 40));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(pool.LiveChunks(), 3u);
  std::memset(block, 'a', 40);

  EXPECT_EQ(Call(pool, block, 40, 48), block);  // same number of chunks
  EXPECT_EQ(Call(pool, block, 48, 20), block);  // shrink: tail chunk returned
  EXPECT_EQ(pool.LiveChunks(), 2u);
  // The returned tail is handed out next.
  void* tail = Call(pool, nullptr, 0, 16);
  EXPECT_EQ(tail, block + 32);

  auto* grown = static_cast<char*>(Call(pool, block, 20, 100));
  ASSERT_NE(grown, nullptr);
  EXPECT_NE(grown, block);
  EXPECT_EQ(std::string(grown, 20), std::string(20, 'a'));
  EXPECT_EQ(pool.LiveChunks(), 1u + 7u);

  EXPECT_EQ(Call(pool, grown, 100, 0), nullptr);
  EXPECT_EQ(Call(pool, tail, 16, 0), nullptr);
  EXPECT_EQ(pool.LiveChunks(), 0u);
}

TEST(PoolAllocatorTest, FailsWithNullPastItsLimitAndForHugeRequests) {
  PoolLuaAllocator pool(64);
  void* a = Call(pool, nullptr, 0, 48);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(Call(pool, nullptr, 0, 32), nullptr);
  EXPECT_EQ(Call(pool, a, 48, 80), nullptr);  // a failed grow keeps the block
  EXPECT_EQ(pool.LiveChunks(), 3u);
  EXPECT_EQ(Call(pool, nullptr, 0, static_cast<std::size_t>(-1)), nullptr);
  // Blocks larger than one pool block work too.
  PoolLuaAllocator big(1 << 20);
  void* large = Call(big, nullptr, 0, 100000);
  ASSERT_NE(large, nullptr);
  std::memset(large, 1, 100000);
  EXPECT_EQ(Call(big, large, 100000, 0), nullptr);
  Call(pool, a, 48, 0);
}

}  // namespace
}  // namespace dnt
