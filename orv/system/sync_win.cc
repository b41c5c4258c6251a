// Windows locks: a critical section, and a kernel semaphore, which any thread
// may release (a prepared switch is committed on another thread than the one
// that prepared it).
#include <windows.h>

#include <stdexcept>

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/result_text.h"
#include "orv/system/sync.h"

namespace orv::system {
namespace {

static_assert(sizeof(CRITICAL_SECTION) <= 40 && alignof(CRITICAL_SECTION) <= 8,
              "the opaque storage in sync.h must hold a CRITICAL_SECTION");

CRITICAL_SECTION* Native(unsigned char* storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }

}  // namespace

uint64_t CurrentThreadId() noexcept { return ::GetCurrentThreadId(); }

CriticalSection::CriticalSection() { ::InitializeCriticalSection(Native(m_section)); }
CriticalSection::~CriticalSection() { ::DeleteCriticalSection(Native(m_section)); }
void CriticalSection::Lock() { ::EnterCriticalSection(Native(m_section)); }
bool CriticalSection::TryLock() { return ::TryEnterCriticalSection(Native(m_section)) != 0; }
void CriticalSection::Unlock() { ::LeaveCriticalSection(Native(m_section)); }

Semaphore::Semaphore(uint32_t initialCount, uint32_t maximumCount) {
  if (maximumCount == 0 || initialCount > maximumCount || maximumCount > 0x7fffffff) {
    throw std::invalid_argument("invalid semaphore counts");
  }
  m_handle = ::CreateSemaphoreW(nullptr, static_cast<LONG>(initialCount), static_cast<LONG>(maximumCount), nullptr);
  if (!m_handle) throw CheckResultFailedException("sync", __LINE__, Win32ErrorToResult(::GetLastError()));
}

Semaphore::~Semaphore() { ::CloseHandle(m_handle); }

uint32_t Semaphore::Wait(uint32_t timeoutMs) {
  static_assert(WaitInfinite == INFINITE && wait_result::Timeout == WAIT_TIMEOUT &&
                wait_result::Abandoned == WAIT_ABANDONED && wait_result::Failed == WAIT_FAILED);
  return ::WaitForSingleObject(m_handle, timeoutMs);
}

bool Semaphore::Release(uint32_t count, uint32_t* previousCount) {
  if (count == 0 || count > 0x7fffffff) return false;
  LONG previous = 0;
  if (!::ReleaseSemaphore(m_handle, static_cast<LONG>(count), &previous)) return false;
  if (previousCount) *previousCount = static_cast<uint32_t>(previous);
  return true;
}

}  // namespace orv::system
