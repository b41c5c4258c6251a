// The weak reference object: the control block of one component object. It
// holds the object's strong count, so a dead object (count 0) stays dead.
#pragma once

#include <atomic>

#include "orv/object.h"
#include "orv/rtl/module_count.h"

namespace dnt::rtl {

class WeakReferenceImpl final : public orv::IWeakReference {
 public:
  WeakReferenceImpl() = default;

  uint32_t AddRef() override;
  uint32_t Release() override;
  orv::result_t QueryInterface(orv::iid_t iid, void** out) override;
  orv::result_t Lock(orv::iid_t iid, void** out) override;

  // The target object's own counting, kept here.
  uint32_t AddStrong() noexcept { return m_strong.fetch_add(1) + 1; }
  uint32_t ReleaseStrong() noexcept { return m_strong.fetch_sub(1) - 1; }
  uint32_t StrongCount() const noexcept { return m_strong.load(); }

  /// Links the freshly constructed target: one strong (creation) reference.
  void Attach(orv::IWeakReferenceSource* target) noexcept {
    m_target.store(target);
    m_strong.store(1);
  }
  /// The target is dying; Lock can no longer reach it. True for the first
  /// call only: FinalRelease may take the count from 0 to 1 and back again,
  /// and the object must still be destroyed once.
  bool Detach() noexcept { return m_target.exchange(nullptr) != nullptr; }

 private:
  ~WeakReferenceImpl() = default;

  orv::module::ObjectCounter m_counter;
  std::atomic<orv::IWeakReferenceSource*> m_target{nullptr};
  std::atomic<uint32_t> m_strong{0};
  std::atomic<uint32_t> m_refs{1};
};

}  // namespace dnt::rtl
