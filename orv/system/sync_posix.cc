// POSIX locks over the standard library's primitives. Windows critical
// sections are recursive, so the critical section is a recursive mutex here.
#include "orv/system/sync.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace orv::system {

uint64_t CurrentThreadId() noexcept { return static_cast<uint64_t>(::syscall(SYS_gettid)); }

CriticalSection::CriticalSection() = default;
CriticalSection::~CriticalSection() = default;
void CriticalSection::Lock() { m_mutex.lock(); }
bool CriticalSection::TryLock() { return m_mutex.try_lock(); }
void CriticalSection::Unlock() { m_mutex.unlock(); }

Semaphore::Semaphore(uint32_t initialCount, uint32_t maximumCount)
    : m_count(initialCount), m_maximum(maximumCount) {
  if (maximumCount == 0 || initialCount > maximumCount)
    throw std::invalid_argument("invalid semaphore counts");
}

Semaphore::~Semaphore() = default;

uint32_t Semaphore::Wait(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  const auto available = [this] { return m_count > 0; };
  if (timeoutMs == WaitInfinite) {
    m_available.wait(lock, available);
  } else if (!m_available.wait_for(lock, std::chrono::milliseconds(timeoutMs), available)) {
    return wait_result::Timeout;
  }
  --m_count;
  return wait_result::Signaled;
}

bool Semaphore::Release(uint32_t count, uint32_t* previousCount) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (count == 0 || count > m_maximum - m_count) return false;
    if (previousCount) *previousCount = m_count;
    m_count += count;
  }
  if (count == 1)
    m_available.notify_one();
  else
    m_available.notify_all();
  return true;
}

}  // namespace orv::system
