// The set of objects that switch implementation together. It holds only weak
// references, so registering an object does not prolong its life; locking
// the set hands out strong references to the objects still alive and
// forgets the others.
#pragma once

#include <vector>

#include "do_not_track/service_settings.h"
#include "do_not_track/switching.h"
#include "orv/system/sync.h"
#include "source/rtl/component_object.h"

namespace dnt {

class WeakReferenceSet final : public rtl::ComponentObject<WeakReferenceSet, IWeakReferenceSet> {
 public:
  explicit WeakReferenceSet(orv::IServiceLocator* locator);
  ~WeakReferenceSet();

  void* FindInterface(orv::iid_t iid) noexcept;

  orv::result_t Insert(orv::IWeakReference* reference) override;
  orv::result_t Remove(orv::IWeakReference* reference) override;
  orv::result_t Lock(std::vector<orv::ComPtr<orv::IObject>>* objects) override;

 private:
  /// Drops `reference` from the list, without releasing it; false when it
  /// is not there. The set's lock must be held.
  bool EraseLocked(orv::IWeakReference* reference);
  /// Releases the references in `dead` that are still registered.
  void Forget(const std::vector<orv::IWeakReference*>& dead);

  orv::system::CriticalSection m_lock;
  /// Sorted by address, no repeats, one reference each.
  std::vector<orv::IWeakReference*, HostAllocator<orv::IWeakReference*>> m_refs;
};

}  // namespace dnt
