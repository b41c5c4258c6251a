#pragma once

#include <atomic>
#include <cstdint>

#include "host/host_object.h"
#include "orv/allocator.h"

namespace host {

/// An allocator over the process heap that counts live blocks and can be
/// told to fail.
class CountingAllocator final : public HostObject<orv::IAllocator> {
 public:
  void* Allocate(size_t size) override;
  void* Reallocate(void* block, size_t size) override;
  void Free(void* block) override;

  int64_t LiveBlocks() const { return m_live.load(); }
  /// Every allocation fails while set.
  void SetFailing(bool failing) { m_failing.store(failing); }
  /// The next `n` allocations succeed, later ones fail (-1: never fail).
  void FailAfter(int64_t n) { m_budget.store(n); }

 private:
  bool MayAllocate();

  std::atomic<int64_t> m_live{0};
  std::atomic<bool> m_failing{false};
  std::atomic<int64_t> m_budget{-1};
};

}  // namespace host
