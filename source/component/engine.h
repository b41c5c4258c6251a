// The implementation behind the service component: owns the loaded bases
// through a slot shared with every DNT service it created, answers the bases
// queries, and replaces the bases in place (prepare, commit, roll back).
#pragma once

#include <condition_variable>
#include <mutex>
#include <string_view>
#include <vector>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "do_not_track/service_component.h"
#include "source/rtl/component_object.h"

namespace dnt {

class Engine final
    : public rtl::ComponentObject<Engine, IDntServiceProvider, IDntBasesInfo, IComponentVersion> {
 public:
  /// Publishes `bases`. Every DNT service it creates joins `updatables`, the
  /// set of the services this engine serves.
  Engine(orv::IServiceLocator* locator, orv::ComPtr<IWeakReferenceSet> updatables, orv::ComPtr<Bases> bases);

  void* FindInterface(orv::iid_t iid) noexcept;

  orv::result_t CreateDntService(const ServiceSettings* settings, IProcessorFactory** out) override;

  orv::result_t GetSupportedTrackingServices(uint32_t category,
                                             std::vector<SupportedTrackingService>* services) override;
  orv::result_t GetPartnerSites(std::vector<std::u16string>* sites) override;
  orv::result_t GetIncompatibleSites(std::vector<std::u16string>* sites) override;
  orv::result_t GetSiteCategory(std::string_view site, uint32_t* category) override;

  orv::result_t GetVersion(ComponentVersion* version) override;

  // The bases update, driven by the service component. Each runs alone
  // (queries do not wait for them); failures are thrown.
  /// Loads new bases from `storage` (null: the bases directory) and keeps
  /// them pending. orv::CheckFailedException when an update is pending.
  void PrepareBasesSwitchTo(orv::IDataStorage* storage);
  /// Publishes the pending bases. orv::CheckFailedException when none.
  void CommitBasesSwitch();
  /// Drops the pending bases, if any.
  void RollbackBasesSwitch();

  // A switch away from this engine, driven by the service component that
  // owns it. While it is prepared, new DNT services wait: one made now
  // would miss the switch, whose list of services is already taken.
  /// Holds new services back until EndSwitch.
  void SealForSwitch();
  /// Lets waiting and later services go: to `successor` once the switch is
  /// committed, to this engine again when it is rolled back (null).
  void EndSwitch(orv::ComPtr<IDntServiceProvider> successor) noexcept;

 private:
  using SiteList = const ExceptionalSites& (BugBases::*)() const noexcept;

  enum class Gate { Serving, Sealed, Superseded };

  orv::ComPtr<Bases> TakeBases() const;
  /// Makes a service on this engine's bases and registers it with the
  /// updatables; the gate must be held and open.
  orv::ComPtr<IProcessorFactory> MakeServiceLocked(const ServiceSettings& settings);
  /// Fills `sites` from one exceptional site list of the current bases.
  orv::result_t EnumerateSites(SiteList list, std::vector<std::u16string>* sites, const char* failure);

  orv::ComPtr<BasesSlot> m_slot;
  orv::ComPtr<IWeakReferenceSet> m_updatables;
  std::mutex m_updateLock;
  orv::ComPtr<Bases> m_pending;
  std::mutex m_gateLock;
  std::condition_variable m_gateOpened;
  Gate m_gate = Gate::Serving;
  orv::ComPtr<IDntServiceProvider> m_successor;
};

/// Fills `version` with the product version and the interface revision.
void FillComponentVersion(ComponentVersion& version) noexcept;

}  // namespace dnt
