// The states a prepared switch leaves behind: the pending component switch
// of a new service component, and the local storage a service component
// hands out from PrepareSwitchTo.
#pragma once

#include <optional>

#include "do_not_track/service_component.h"
#include "orv/rtl/module_count.h"
#include "orv/rtl/ref_counted.h"
#include "source/component/engine.h"
#include "source/component/implementation_set_switch.h"

namespace dnt {

/// The switch of the updatable set of a previous instance to a new one,
/// between Verify and Init.
class PendingComponentSwitch final : public orv::RefCounted<orv::IObject> {
 public:
  PendingComponentSwitch(orv::ITracer* tracer, const std::vector<orv::ComPtr<orv::IObject>>& objects,
                         orv::IObject* toProcessLast)
      : switchSet(tracer, objects, toProcessLast) {}

  ImplementationSetSwitch switchSet;

 private:
  orv::module::ObjectCounter m_counter;
};

/// What a service component keeps between PrepareSwitchTo and CommitSwitch
/// or RollbackSwitch: the new implementation's service and bases interfaces
/// and the switch of its own updatables.
class SwitchLocalStorage final : public orv::RefCounted<orv::IObject> {
 public:
  /// Keeps `newImplementation` through its weak reference when it has one:
  /// the new instance holds, through its pending switch, the local storage
  /// of its predecessor, and a strong reference back would be a cycle that
  /// no release could break.
  explicit SwitchLocalStorage(orv::IObject* newImplementation);
  /// A switch dropped without commit or rollback lets the sealed engine
  /// serve again.
  ~SwitchLocalStorage() { EndSeal(false); }

  /// The new implementation with a strong reference; null when it died.
  orv::ComPtr<orv::IObject> NewImplementation() const;

  /// Holds new services back on `engine` until the switch ends.
  void Seal(orv::ComPtr<Engine> engine);
  /// Ends the hold: new services go to the new service provider when
  /// `committed`, else to the sealed engine again.
  void EndSeal(bool committed) noexcept;

  orv::ComPtr<IDntServiceProvider> serviceProvider;
  orv::ComPtr<IDntBasesInfo> basesInfo;
  std::optional<ImplementationSetSwitch> updatables;

 private:
  orv::ComPtr<orv::IWeakReference> m_weakImplementation;
  orv::ComPtr<orv::IObject> m_strongImplementation;
  orv::ComPtr<Engine> m_sealed;
  orv::module::ObjectCounter m_counter;
};

}  // namespace dnt
