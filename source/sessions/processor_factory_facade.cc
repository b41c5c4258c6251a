#include "source/sessions/processor_factory_facade.h"

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/translate.h"
#include "orv/trace/trace_stream.h"
#include "source/sessions/processor_factory.h"

namespace dnt {

ProcessorFactoryFacade::ProcessorFactoryFacade(orv::IServiceLocator* locator,
                                               orv::ComPtr<IProcessorFactory> implementation,
                                               orv::ComPtr<IWeakReferenceSet> updatables)
    : ComponentObject(locator), m_implementation(std::move(implementation)), m_updatables(std::move(updatables)) {}

void* ProcessorFactoryFacade::FindInterface(orv::iid_t iid) noexcept {
  if (iid == orv::IObject::iid || iid == IProcessorFactory::iid) return static_cast<IProcessorFactory*>(this);
  if (iid == ISwitchableImplementation::iid) return static_cast<ISwitchableImplementation*>(this);
  if (iid == IRawImplementationSource::iid) return static_cast<IRawImplementationSource*>(this);
  return nullptr;
}

void ProcessorFactoryFacade::FinalRelease() {
  // A set that already forgot the dead reference answers NotFound, which is
  // fine.
  orv::ComPtr<IWeakReferenceSet> services;
  {
    orv::system::CriticalSectionLock lock(m_lock);
    services = std::move(m_updatables);
  }
  if (services) services->Remove(OwnWeakReference());
}

orv::ComPtr<IProcessorFactory> ProcessorFactoryFacade::Current() {
  orv::system::CriticalSectionLock lock(m_lock);
  return m_implementation;
}

orv::result_t ProcessorFactoryFacade::CreateHttpSessionProcessor(const SessionParams* params,
                                                                 IHttpSessionProcessor** out) {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ProcessorFactoryFacade::CreateHttpSessionProcessor()";
  }
  const orv::ComPtr<IProcessorFactory> current = Current();
  return current ? current->CreateHttpSessionProcessor(params, out) : orv::result::InvalidState;
}

orv::result_t ProcessorFactoryFacade::IsDomainProcessingRequired(std::string_view domain, bool* required) {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ProcessorFactoryFacade::IsDomainProcessingRequired()";
  }
  const orv::ComPtr<IProcessorFactory> current = Current();
  return current ? current->IsDomainProcessingRequired(domain, required) : orv::result::InvalidState;
}

// A failure is returned, never thrown: the switch set must see it to roll
// back the members it has prepared.
orv::result_t ProcessorFactoryFacade::PrepareSwitchTo(orv::IObject* newImplementation,
                                                      orv::IObject** localStorage) {
  try {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << rtl::ObjectPrefix{this} << "  ProcessorFactoryFacade::PrepareSwitchTo() : newImplementation = "
           << static_cast<void*>(newImplementation);
    }
    if (!newImplementation || !localStorage) return orv::result::InvalidArgument;
    *localStorage = nullptr;
    const orv::ComPtr<IProcessorFactory> current = Current();
    orv::ComPtr<IUpdatableImplementation> updatable;
    if (current) current->QueryInterface(IUpdatableImplementation::iid, updatable.PutVoid());
    if (!updatable) throw orv::CheckResultFailedException("processor_factory_facade", __LINE__, orv::result::InvalidState);
    orv::ComPtr<IProcessorFactory> next;
    orv::CheckResult(updatable->GetUpdatedImplementation(newImplementation, IProcessorFactory::iid, next.PutVoid()),
                     "processor_factory_facade", __LINE__);
    *localStorage = next.Detach();
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), nullptr);
  }
}

orv::result_t ProcessorFactoryFacade::CommitSwitch(orv::IObject* localStorage) {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ProcessorFactoryFacade::CommitSwitch(): localStorage = "
         << static_cast<void*>(localStorage);
  }
  // The local storage is only trusted as far as it answers for itself.
  orv::ComPtr<IProcessorFactory> next;
  if (!localStorage || orv::Failed(localStorage->QueryInterface(IProcessorFactory::iid, next.PutVoid())) || !next) {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Failure}) {
      line << rtl::ObjectPrefix{this} << "  ProcessorFactoryFacade::CommitSwitch(): the local storage is no "
           << "processor factory; the current one is kept";
    }
    return orv::result::InvalidArgument;
  }
  // The engine behind the new factory is the one whose switches this
  // facade must follow from now on, whichever instances the host keeps.
  orv::ComPtr<IWeakReferenceSet> services;
  orv::ComPtr<ProcessorFactory> own;
  if (orv::Succeeded(next->QueryInterface(ProcessorFactory::selfIid, own.PutVoid())) && own) {
    services = own->EngineServices();
  }
  {
    orv::system::CriticalSectionLock lock(m_lock);
    std::swap(m_implementation, next);
  }
  JoinServices(std::move(services));
  return orv::result::NoError;  // the previous factory is released after the lock
}

void ProcessorFactoryFacade::JoinServices(orv::ComPtr<IWeakReferenceSet> services) {
  if (!services) return;
  {
    orv::system::CriticalSectionLock lock(m_lock);
    if (services == m_updatables) return;
  }
  // Joins before it leaves, so that it is never in no set at all.
  if (orv::Failed(services->Insert(OwnWeakReference()))) {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Failure}) {
      line << rtl::ObjectPrefix{this} << "  ProcessorFactoryFacade::CommitSwitch(): the new engine's services "
           << "could not take the facade; it follows the old set";
    }
    return;
  }
  {
    orv::system::CriticalSectionLock lock(m_lock);
    std::swap(m_updatables, services);
  }
  if (services) services->Remove(OwnWeakReference());
}

orv::result_t ProcessorFactoryFacade::RollbackSwitch(orv::IObject* localStorage) {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ProcessorFactoryFacade::RollbackSwitch(): localStorage = "
         << static_cast<void*>(localStorage);
  }
  return orv::result::NoError;
}

orv::result_t ProcessorFactoryFacade::GetRawImplementation(orv::iid_t iid, void** out) {
  if (!out) return orv::result::InvalidArgument;
  *out = nullptr;
  if (iid != IProcessorFactory::iid) return orv::result::InterfaceNotSupported;
  *out = Current().Detach();
  return orv::result::NoError;
}

}  // namespace dnt
