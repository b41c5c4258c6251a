// Platform layer for locks: a critical section and a counting semaphore, the
// two primitives the component's shared pointers and switch protocol use.
// One implementation file per platform sits beside this header
// (sync_posix.cc, sync_win.cc).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace orv::system {

/// Wait results in Windows numbering, whatever the platform.
namespace wait_result {
inline constexpr uint32_t Signaled = 0;         // WAIT_OBJECT_0
inline constexpr uint32_t Timeout = 258;        // WAIT_TIMEOUT
inline constexpr uint32_t Abandoned = 0x80;     // WAIT_ABANDONED
inline constexpr uint32_t Failed = 0xFFFFFFFF;  // WAIT_FAILED
}  // namespace wait_result

/// Waits with this timeout never give up.
inline constexpr uint32_t WaitInfinite = 0xFFFFFFFF;

/// Identifies the calling thread; never 0.
uint64_t CurrentThreadId() noexcept;

/// A recursive lock: the owning thread may enter it again, and must leave it
/// as often as it entered.
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Lock();
  bool TryLock();
  void Unlock();

  // The standard names, so std::scoped_lock and friends work too.
  void lock() { Lock(); }
  bool try_lock() { return TryLock(); }
  void unlock() { Unlock(); }

 private:
#if defined(_WIN32)
  // A CRITICAL_SECTION, opaque here so that this header needs no <windows.h>.
  alignas(8) unsigned char m_section[40];
#else
  std::recursive_mutex m_mutex;
#endif
};

/// Holds a lock for the lifetime of the guard.
template <class Lockable>
class LockGuard {
 public:
  explicit LockGuard(Lockable& lock) : m_lock(lock) { m_lock.Lock(); }
  ~LockGuard() { m_lock.Unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lockable& m_lock;
};

using CriticalSectionLock = LockGuard<CriticalSection>;

/// A counting semaphore with a maximum count.
class Semaphore {
 public:
  /// Throws std::invalid_argument when `initialCount` exceeds `maximumCount`
  /// or the maximum is 0, orv::CheckResultFailedException when the system
  /// cannot make one. Any thread may release it.
  Semaphore(uint32_t initialCount, uint32_t maximumCount);
  ~Semaphore();
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  /// Takes one unit, waiting at most `timeoutMs` milliseconds for one
  /// (WaitInfinite: no limit). Returns a wait_result value.
  uint32_t Wait(uint32_t timeoutMs = WaitInfinite);
  /// Adds `count` units. Fails (returns false, changes nothing) when the
  /// count would pass the maximum or `count` is 0. `previousCount`, when
  /// given, receives the count before the release.
  bool Release(uint32_t count = 1, uint32_t* previousCount = nullptr);

 private:
#if defined(_WIN32)
  void* m_handle;
#else
  std::mutex m_mutex;
  std::condition_variable m_available;
  uint32_t m_count;
  const uint32_t m_maximum;
#endif
};

}  // namespace orv::system
