#include "host/counting_allocator.h"

#include <cstdlib>

namespace host {

bool CountingAllocator::MayAllocate() {
  if (m_failing.load()) return false;
  int64_t budget = m_budget.load();
  while (budget >= 0) {
    if (budget == 0) return false;
    if (m_budget.compare_exchange_weak(budget, budget - 1)) return true;
  }
  return true;
}

void* CountingAllocator::Allocate(size_t size) {
  if (!MayAllocate()) return nullptr;
  void* p = std::malloc(size ? size : 1);
  if (p) ++m_live;
  return p;
}

void* CountingAllocator::Reallocate(void* block, size_t size) {
  if (!block) return Allocate(size);
  if (!MayAllocate()) return nullptr;
  return std::realloc(block, size ? size : 1);
}

void CountingAllocator::Free(void* block) {
  if (!block) return;
  --m_live;
  std::free(block);
}

}  // namespace host
