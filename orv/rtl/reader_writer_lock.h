// A writer-preferring reader/writer lock built from a critical section and
// two semaphores. Unlike std::shared_mutex it may be released by another
// thread than the one that acquired it: an implementation switch is
// prepared on one host thread and committed on another.
#pragma once

#include <cstdint>
#include <exception>
#include <utility>

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/system/sync.h"
#include "orv/trace/trace_stream.h"

namespace orv {

template <class SemaphoreT = system::Semaphore>
class BasicReaderWriterLock {
 public:
  static constexpr uint32_t MaximumWaiters = 0x7fffffff;

  explicit BasicReaderWriterLock(ITracer* tracer) : m_tracer(tracer) {}
  BasicReaderWriterLock(const BasicReaderWriterLock&) = delete;
  BasicReaderWriterLock& operator=(const BasicReaderWriterLock&) = delete;

  /// Waits while a writer holds the lock or waits for it. Throws
  /// ResultCodeException: InvalidState when the calling thread holds the
  /// lock exclusively (it would wait for itself), or the wait's failure.
  void AcquireShared() {
    {
      system::CriticalSectionLock section(m_section);
      RefuseOwnerLocked();
      if (m_state >= 0 && m_waitingWriters == 0) {
        ++m_state;
        return;
      }
      ++m_waitingReaders;
    }
    Wait(m_readers, m_waitingReaders);
  }

  /// Waits until no reader or writer holds the lock, then holds it alone and
  /// marks the calling thread as its owner. Throws like AcquireShared.
  void AcquireExclusive() {
    {
      system::CriticalSectionLock section(m_section);
      RefuseOwnerLocked();
      if (m_state == 0) {
        TakeWriterLocked();
        return;
      }
      ++m_waitingWriters;
    }
    Wait(m_writers, m_waitingWriters);
    system::CriticalSectionLock section(m_section);
    m_owner = system::CurrentThreadId();
  }

  /// Releases one shared hold or the exclusive hold, from any thread, and
  /// hands the lock on: to one waiting writer first, else to every waiting
  /// reader. Releasing a free lock is traced and changes nothing.
  void Release() noexcept {
    system::CriticalSectionLock section(m_section);
    if (m_state == Writer) {
      m_owner = NoOwner;
      m_state = 0;
    } else if (m_state > 0) {
      --m_state;
    } else {
      if (TraceStream line{m_tracer, trace_level::Failure}) line << "Release of a reader/writer lock that is not held";
      return;
    }
    if (m_state != 0) return;
    // A semaphore that cannot be released would leave the waiters counted as
    // granted but asleep for ever, and every later acquire behind them.
    if (m_waitingWriters > 0) {
      --m_waitingWriters;
      m_state = Writer;
      if (!m_writers.Release(1)) Fatal("Releasing a waiting writer failed");
    } else if (m_waitingReaders > 0) {
      m_state = std::exchange(m_waitingReaders, 0);
      if (!m_readers.Release(static_cast<uint32_t>(m_state))) Fatal("Releasing waiting readers failed");
    }
  }

  /// For tests and traces: readers holding it, -1 for a writer, 0 when free.
  int32_t State() const {
    system::CriticalSectionLock section(m_section);
    return m_state;
  }
  /// For tests and traces: the threads waiting to read and to write.
  std::pair<int32_t, int32_t> Waiting() const {
    system::CriticalSectionLock section(m_section);
    return {m_waitingReaders, m_waitingWriters};
  }

 private:
  static constexpr int32_t Writer = -1;
  static constexpr uint64_t NoOwner = 0;

  void RefuseOwnerLocked() const {
    if (m_state == Writer && m_owner == system::CurrentThreadId()) {
      throw ResultCodeException("lock_traits", __LINE__, result::InvalidState, {}, "Expression failed");
    }
  }

  void TakeWriterLocked() noexcept {
    m_state = Writer;
    m_owner = system::CurrentThreadId();
  }

  // A failed wait must not leave a count that no thread will consume: while
  // the waiter is still counted it is uncounted before the throw. Once the
  // lock has been handed to it the unit in the semaphore is its own, and
  // nobody else may take it, so the process cannot go on safely. (The counts
  // are anonymous: a failure racing a grant to others is not told apart, but
  // only a broken semaphore fails a wait at all.)
  void Wait(SemaphoreT& semaphore, int32_t& waiting) {
    const uint32_t status = semaphore.Wait(system::WaitInfinite);
    if (status == system::wait_result::Signaled) return;
    const result_t code =
        status == system::wait_result::Abandoned ? result::WaitAbandoned : result::UnspecifiedPlatformError;
    system::CriticalSectionLock section(m_section);
    if (waiting > 0) {
      --waiting;
      throw ResultCodeException("lock_traits", 63, code, {}, "Expression failed");
    }
    Fatal("Waiting for a reader/writer lock failed after it was granted");
  }

  [[noreturn]] void Fatal(const char* what) const noexcept {
    if (TraceStream line{m_tracer, trace_level::Failure}) line << what;
    std::terminate();
  }

  ITracer* m_tracer;
  mutable system::CriticalSection m_section;
  SemaphoreT m_readers{0, MaximumWaiters};
  SemaphoreT m_writers{0, MaximumWaiters};
  int32_t m_waitingReaders = 0;
  int32_t m_waitingWriters = 0;
  int32_t m_state = 0;
  uint64_t m_owner = NoOwner;
};

using ReaderWriterLock = BasicReaderWriterLock<>;

/// Holds a shared acquisition for a scope.
template <class Lock>
class SharedLockGuard {
 public:
  explicit SharedLockGuard(Lock& lock) : m_lock(lock) { m_lock.AcquireShared(); }
  ~SharedLockGuard() { m_lock.Release(); }
  SharedLockGuard(const SharedLockGuard&) = delete;
  SharedLockGuard& operator=(const SharedLockGuard&) = delete;

 private:
  Lock& m_lock;
};

}  // namespace orv
