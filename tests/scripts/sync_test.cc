#include "orv/system/sync.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace orv::system {
namespace {

TEST(SyncTest, SemaphoreCountsAndTimesOut) {
  EXPECT_THROW(Semaphore(2, 1), std::invalid_argument);
  Semaphore semaphore(1, 2);
  EXPECT_EQ(semaphore.Wait(0), wait_result::Signaled);
  EXPECT_EQ(semaphore.Wait(10), wait_result::Timeout);
  uint32_t previous = 99;
  EXPECT_TRUE(semaphore.Release(2, &previous));
  EXPECT_EQ(previous, 0u);
  EXPECT_FALSE(semaphore.Release(1));  // past the maximum
  EXPECT_FALSE(semaphore.Release(0));
  EXPECT_EQ(semaphore.Wait(), wait_result::Signaled);
  EXPECT_EQ(semaphore.Wait(), wait_result::Signaled);

  std::thread waiter([&] { EXPECT_EQ(semaphore.Wait(), wait_result::Signaled); });
  EXPECT_TRUE(semaphore.Release());
  waiter.join();
}

TEST(SyncTest, CriticalSectionIsRecursiveAndExclusive) {
  CriticalSection section;
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        CriticalSectionLock outer(section);
        CriticalSectionLock inner(section);
        ++counter;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 40000);
}

}  // namespace
}  // namespace orv::system
