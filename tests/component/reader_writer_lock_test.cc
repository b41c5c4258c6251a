#include "orv/rtl/reader_writer_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "host/capturing_tracer.h"
#include "tests/support/watchdog.h"

namespace {

using namespace std::chrono_literals;
using orv::ReaderWriterLock;

TEST(ReaderWriterLockTest, WaitingWriterIsPreferredAndAnyThreadMayRelease) {
  dnt::testing::Watchdog watchdog(std::chrono::seconds(60), "writer preference");
  auto tracer = host::MakeHostObject<host::CapturingTracer>();
  ReaderWriterLock lock(tracer.Get());
  lock.AcquireShared();  // a reader that another thread will release

  std::atomic<int> order{0};
  std::atomic<int> writerAt{0};
  std::atomic<int> readerAt{0};
  std::thread writer([&] {
    lock.AcquireExclusive();
    writerAt = ++order;
    lock.Release();
  });
  // Once the writer queues, a new reader must queue behind it although only
  // readers hold the lock.
  const auto waitFor = [&](std::pair<int32_t, int32_t> waiting) {
    while (lock.Waiting() != waiting) std::this_thread::sleep_for(1ms);
  };
  waitFor({0, 1});
  std::thread reader([&] {
    lock.AcquireShared();
    readerAt = ++order;
    lock.Release();
  });
  waitFor({1, 1});
  EXPECT_EQ(order.load(), 0);
  EXPECT_EQ(lock.State(), 1);

  std::thread([&] { lock.Release(); }).join();  // released from a third thread
  writer.join();
  reader.join();
  EXPECT_EQ(writerAt.load(), 1);
  EXPECT_EQ(readerAt.load(), 2);
  EXPECT_EQ(lock.State(), 0);
}

TEST(ReaderWriterLockTest, MisuseFailsInsteadOfHanging) {
  dnt::testing::Watchdog watchdog(std::chrono::seconds(60), "lock misuse");
  auto tracer = host::MakeHostObject<host::CapturingTracer>();
  ReaderWriterLock lock(tracer.Get());

  // Releasing a free lock changes nothing: the next writer is not locked out.
  lock.Release();
  EXPECT_EQ(tracer->Texts(orv::trace_level::Failure).size(), 1u);
  EXPECT_EQ(lock.State(), 0);

  // The owner acquiring again would wait for itself.
  lock.AcquireExclusive();
  EXPECT_EQ(lock.State(), -1);
  for (auto acquire : {&ReaderWriterLock::AcquireExclusive, &ReaderWriterLock::AcquireShared}) {
    try {
      (lock.*acquire)();
      ADD_FAILURE() << "an acquire by the owner succeeded";
    } catch (const orv::ResultCodeException& e) {
      EXPECT_EQ(orv::GetResultCode(e), orv::result::InvalidState);
    }
  }
  // Another thread simply waits until the owner lets go.
  std::thread other([&] {
    lock.AcquireShared();
    lock.Release();
  });
  std::this_thread::sleep_for(20ms);
  lock.Release();
  other.join();
  EXPECT_EQ(lock.State(), 0);
}

// A semaphore whose waits fail, as a broken handle would.
struct FailingSemaphore {
  FailingSemaphore(uint32_t, uint32_t) {}
  uint32_t Wait(uint32_t) { return orv::system::wait_result::Abandoned; }
  bool Release(uint32_t = 1) { return true; }
};

TEST(ReaderWriterLockTest, FailedWaitLeavesNoWaiterBehind) {
  dnt::testing::Watchdog watchdog(std::chrono::seconds(60), "failed wait");
  auto tracer = host::MakeHostObject<host::CapturingTracer>();
  orv::BasicReaderWriterLock<FailingSemaphore> lock(tracer.Get());
  lock.AcquireShared();
  std::thread([&] {
    try {
      lock.AcquireExclusive();
      ADD_FAILURE() << "the wait did not fail";
    } catch (const orv::ResultCodeException& e) {
      EXPECT_EQ(orv::GetResultCode(e), orv::result::WaitAbandoned);
    }
  }).join();
  // Had the writer stayed counted, the release would hand the lock to it and
  // nobody could take the lock again.
  lock.Release();
  EXPECT_EQ(lock.State(), 0);
  lock.AcquireShared();
  EXPECT_EQ(lock.State(), 1);
  lock.Release();
}

}  // namespace
