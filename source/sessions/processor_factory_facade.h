// The DNT service as the host holds it: a front that forwards to the current
// processor factory and can be switched to a factory on new bases while the
// host keeps using it. Sessions already opened keep the factory they were
// made by.
#pragma once

#include <string_view>

#include "do_not_track/session.h"
#include "do_not_track/switching.h"
#include "orv/system/sync.h"
#include "source/rtl/component_object.h"

namespace dnt {

class ProcessorFactoryFacade final
    : public rtl::ComponentObject<ProcessorFactoryFacade, IProcessorFactory, ISwitchableImplementation,
                                  IRawImplementationSource> {
 public:
  /// Forwards to `implementation`. The engine registers the facade's weak
  /// reference in `updatables`, the set of the services it serves; a commit
  /// onto a factory of another engine moves the facade into that engine's
  /// set, and the facade leaves its set when it dies.
  ProcessorFactoryFacade(orv::IServiceLocator* locator, orv::ComPtr<IProcessorFactory> implementation,
                         orv::ComPtr<IWeakReferenceSet> updatables);

  void* FindInterface(orv::iid_t iid) noexcept;
  void FinalRelease();

  orv::result_t CreateHttpSessionProcessor(const SessionParams* params, IHttpSessionProcessor** out) override;
  orv::result_t IsDomainProcessingRequired(std::string_view domain, bool* required) override;

  orv::result_t PrepareSwitchTo(orv::IObject* newImplementation, orv::IObject** localStorage) override;
  orv::result_t CommitSwitch(orv::IObject* localStorage) override;
  orv::result_t RollbackSwitch(orv::IObject* localStorage) override;

  orv::result_t GetRawImplementation(orv::iid_t iid, void** out) override;

 private:
  orv::ComPtr<IProcessorFactory> Current();
  /// Moves the facade's registration into `services` (null: stays).
  void JoinServices(orv::ComPtr<IWeakReferenceSet> services);

  orv::system::CriticalSection m_lock;
  orv::ComPtr<IProcessorFactory> m_implementation;
  orv::ComPtr<IWeakReferenceSet> m_updatables;
};

}  // namespace dnt
