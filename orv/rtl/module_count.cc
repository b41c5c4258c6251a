#include "orv/rtl/module_count.h"

#include <atomic>

namespace orv::module {
namespace {
std::atomic<uint32_t> g_liveObjects{0};
}

void AddObject() noexcept { g_liveObjects.fetch_add(1, std::memory_order_seq_cst); }
void RemoveObject() noexcept { g_liveObjects.fetch_sub(1, std::memory_order_seq_cst); }
uint32_t LiveObjects() noexcept { return g_liveObjects.load(std::memory_order_acquire); }

}  // namespace orv::module
