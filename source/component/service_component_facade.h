// The service component: the one object the host creates and keeps. A stable
// front over the current engine, which bases updates and implementation
// switches replace behind the host's back.
#pragma once

#include <string_view>
#include <vector>

#include "do_not_track/service_component.h"
#include "orv/rtl/reader_writer_lock.h"
#include "orv/system/sync.h"
#include "source/component/engine.h"
#include "source/component/switch_state.h"
#include "source/rtl/component_object.h"

namespace dnt {

class ServiceComponentFacadeImpl final
    : public rtl::ComponentObject<ServiceComponentFacadeImpl, IDntServiceProvider, IDntBasesInfo,
                                  ISwitchableImplementation, IRawImplementationSource, IUpdatableSetSource,
                                  IComponentVersion, IComponentInit, IBasesUpdateHandler, IStorageConsumer,
                                  IBasesUpdateHandler2> {
 public:
  explicit ServiceComponentFacadeImpl(orv::IServiceLocator* locator);
  ~ServiceComponentFacadeImpl();

  void* FindInterface(orv::iid_t iid) noexcept;
  orv::result_t FinalConstruct();
  void FinalRelease();

  // IDntServiceProvider and IDntBasesInfo: forwarded to the current engine.
  orv::result_t CreateDntService(const ServiceSettings* settings, IProcessorFactory** out) override;
  orv::result_t GetSupportedTrackingServices(uint32_t category,
                                             std::vector<SupportedTrackingService>* services) override;
  orv::result_t GetPartnerSites(std::vector<std::u16string>* sites) override;
  orv::result_t GetIncompatibleSites(std::vector<std::u16string>* sites) override;
  orv::result_t GetSiteCategory(std::string_view site, uint32_t* category) override;

  // ISwitchableImplementation
  orv::result_t PrepareSwitchTo(orv::IObject* newImplementation, orv::IObject** localStorage) override;
  orv::result_t CommitSwitch(orv::IObject* localStorage) override;
  orv::result_t RollbackSwitch(orv::IObject* localStorage) override;

  orv::result_t GetRawImplementation(orv::iid_t iid, void** out) override;
  orv::result_t GetUpdatableSet(IWeakReferenceSet** out) override;
  orv::result_t GetVersion(ComponentVersion* version) override;

  // IComponentInit
  orv::result_t Verify(orv::IObject* previousInstance) override;
  orv::result_t Init(orv::IObject* previousInstance) override;

  // IBasesUpdateHandler and IBasesUpdateHandler2
  orv::result_t VerifyBasesUpdate() override;
  orv::result_t VerifyBasesUpdate(orv::IDataStorage* storage) override;
  orv::result_t HandleBasesUpdate() override;
  orv::result_t RollbackUpdate() override;

  orv::result_t SetStorage(orv::IDataStorage* storage) override;

 private:
  /// Copies a pointer member under the pointer lock.
  template <class T>
  orv::ComPtr<T> Read(const orv::ComPtr<T>& member) const {
    orv::system::CriticalSectionLock lock(m_pointerLock);
    return member;
  }
  /// How long a forwarded call holds the engine lock shared.
  enum class Hold { Call, Read };
  /// Traces `method`, then runs `call` on the current bases interface (or
  /// service provider) with the engine lock held shared for the whole call,
  /// or only while the interface is read; InvalidState when there is none.
  template <class Interface, class Call>
  orv::result_t Forward(const char* method, const orv::ComPtr<Interface>& member, Call&& call,
                        Hold hold = Hold::Call);

  /// Prepares the switch of `previous`'s updatable set to this instance;
  /// returns that set and fills `pending`.
  orv::ComPtr<IWeakReferenceSet> PrepareComponentSwitch(orv::IObject* previous,
                                                        orv::ComPtr<PendingComponentSwitch>& pending);
  /// Runs `step` of a bases update on the engine with the engine lock held
  /// shared; InvalidState without one. Failures are traced after
  /// `failurePrefix` and returned.
  template <class Step>
  orv::result_t UpdateBases(const char* failurePrefix, int line, Step&& step);
  /// The local storage of the prepared switch when `localStorage` is it.
  orv::ComPtr<SwitchLocalStorage> TakePreparedStorage(orv::IObject* localStorage);

  orv::ReaderWriterLock m_engineLock;
  // Guards the pointer members below against a concurrent exchange: the
  // engine lock alone cannot, since GetRawImplementation must never wait
  // for a prepared switch.
  mutable orv::system::CriticalSection m_pointerLock;
  orv::ComPtr<IDntServiceProvider> m_serviceProvider;
  orv::ComPtr<IDntBasesInfo> m_basesInfo;
  orv::ComPtr<IWeakReferenceSet> m_updatables;
  /// The updatable set this instance joined; set once Verify succeeded.
  orv::ComPtr<IWeakReferenceSet> m_joinedSet;
  orv::ComPtr<PendingComponentSwitch> m_pendingSwitch;
  orv::ComPtr<Engine> m_engine;
  orv::ComPtr<orv::IObject> m_switchedTo;
  orv::ComPtr<orv::IDataStorage> m_storage;
  /// The local storage handed out by the prepared switch, if any.
  orv::ComPtr<SwitchLocalStorage> m_preparedStorage;
};

}  // namespace dnt
