// The service component's part in implementation switches and bases updates.
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/translate.h"
#include "orv/trace/trace_stream.h"
#include "source/component/service_component_facade.h"

namespace dnt {
namespace {

constexpr const char* SwitchLocation = "service_component_facade";

/// `T` of the new implementation; when that is itself a front, the
/// implementation behind it, so that a new service component hands over its
/// engine and not itself.
template <class T>
orv::ComPtr<T> ImplementationOf(orv::IObject* newImplementation, int line) {
  orv::ComPtr<T> found;
  orv::CheckResult(newImplementation->QueryInterface(T::iid, found.PutVoid()), SwitchLocation, line);
  if (const auto source = found.template As<IRawImplementationSource>()) {
    orv::ComPtr<T> raw;
    orv::CheckResult(source->GetRawImplementation(T::iid, raw.PutVoid()), SwitchLocation, line);
    found = std::move(raw);
  }
  // A front that has nothing behind it yet (not verified) would make every
  // forwarded call after the switch reach through null.
  if (!found) throw orv::ResultCodeException(SwitchLocation, line, orv::result::InvalidState, u"no implementation to switch to");
  return found;
}

/// Releases an exclusive hold on every exceptional way out of a scope.
class ExclusiveHold {
 public:
  explicit ExclusiveHold(orv::ReaderWriterLock& lock) : m_lock(&lock) { lock.AcquireExclusive(); }
  ~ExclusiveHold() {
    if (m_lock) m_lock->Release();
  }
  ExclusiveHold(const ExclusiveHold&) = delete;
  ExclusiveHold& operator=(const ExclusiveHold&) = delete;
  /// Keeps the lock held past the scope.
  void Keep() noexcept { m_lock = nullptr; }

 private:
  orv::ReaderWriterLock* m_lock;
};

}  // namespace

orv::result_t ServiceComponentFacadeImpl::PrepareSwitchTo(orv::IObject* newImplementation,
                                                          orv::IObject** localStorage) {
  try {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << rtl::ObjectPrefix{this} << "  entering ServiceComponentFacadeImpl::PrepareSwitchTo(): newImplementation = "
           << static_cast<void*>(newImplementation);
    }
    if (!newImplementation || !localStorage) return orv::result::InvalidArgument;
    *localStorage = nullptr;
    // Switching to ourselves would wait for the lock we are about to hold.
    if (SameObject(newImplementation, static_cast<IComponentInit*>(this))) return orv::result::InvalidArgument;

    ExclusiveHold hold(m_engineLock);
    const auto storage = orv::ComPtr<SwitchLocalStorage>::Attach(new SwitchLocalStorage(newImplementation));
    storage->serviceProvider = ImplementationOf<IDntServiceProvider>(newImplementation, 42);
    storage->basesInfo = ImplementationOf<IDntBasesInfo>(newImplementation, 46);
    // Sealed before the services are listed, so that none is made on this
    // engine behind the list's back.
    storage->Seal(Read(m_engine));

    std::vector<orv::ComPtr<orv::IObject>> members;
    orv::CheckResult(Read(m_updatables)->Lock(&members), SwitchLocation, __LINE__);
    storage->updatables.emplace(Tracer(), members, nullptr);
    const orv::result_t prepared = storage->updatables->Prepare(newImplementation);
    if (orv::Failed(prepared)) {
      throw orv::CheckResultFailedException(SwitchLocation, 403, prepared,
                                            u"failed to prepare to the service implementation switching");
    }

    {
      orv::system::CriticalSectionLock lock(m_pointerLock);
      m_preparedStorage = storage;
    }
    *localStorage = orv::ComPtr<orv::IObject>(storage.Get()).Detach();
    hold.Keep();
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << rtl::ObjectPrefix{this} << "  exiting ServiceComponentFacadeImpl::PrepareSwitchTo(): *localStorage = "
           << static_cast<void*>(*localStorage);
    }
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), nullptr);
  }
}

orv::ComPtr<SwitchLocalStorage> ServiceComponentFacadeImpl::TakePreparedStorage(orv::IObject* localStorage) {
  orv::system::CriticalSectionLock lock(m_pointerLock);
  if (!localStorage || !m_preparedStorage || static_cast<orv::IObject*>(m_preparedStorage.Get()) != localStorage) {
    return nullptr;
  }
  return std::move(m_preparedStorage);
}

orv::result_t ServiceComponentFacadeImpl::CommitSwitch(orv::IObject* localStorage) {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::CommitSwitch(): localStorage = "
         << static_cast<void*>(localStorage);
  }
  // Only the local storage of the switch this object prepared releases its
  // lock; anything else would release a lock somebody else holds.
  const orv::ComPtr<SwitchLocalStorage> storage = TakePreparedStorage(localStorage);
  if (!storage) return orv::result::InvalidArgument;
  storage->updatables->Commit();
  storage->EndSeal(true);
  orv::ComPtr<orv::IObject> switchedTo = storage->NewImplementation();
  orv::ComPtr<Engine> dropped;
  {
    orv::system::CriticalSectionLock lock(m_pointerLock);
    std::swap(m_serviceProvider, storage->serviceProvider);
    std::swap(m_basesInfo, storage->basesInfo);
    std::swap(m_switchedTo, switchedTo);
    // Bases updates belong to the new implementation from now on.
    dropped = std::move(m_engine);
  }
  m_engineLock.Release();
  return orv::result::NoError;
}

orv::result_t ServiceComponentFacadeImpl::RollbackSwitch(orv::IObject* localStorage) {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::RollbackSwitch(): localStorage = "
         << static_cast<void*>(localStorage);
  }
  const orv::ComPtr<SwitchLocalStorage> storage = TakePreparedStorage(localStorage);
  if (!storage) return orv::result::InvalidArgument;
  storage->updatables->Rollback();
  storage->EndSeal(false);
  m_engineLock.Release();
  return orv::result::NoError;
}

orv::ComPtr<IWeakReferenceSet> ServiceComponentFacadeImpl::PrepareComponentSwitch(
    orv::IObject* previous, orv::ComPtr<PendingComponentSwitch>& pending) {
  orv::ComPtr<IUpdatableSetSource> source;
  orv::CheckResult(previous->QueryInterface(IUpdatableSetSource::iid, source.PutVoid()), SwitchLocation, __LINE__);
  orv::ComPtr<IWeakReferenceSet> joined;
  orv::CheckResult(source->GetUpdatableSet(joined.Put()), SwitchLocation, __LINE__);
  if (!joined) {
    throw orv::ResultCodeException(SwitchLocation, __LINE__, orv::result::InvalidState,
                                   u"the previous instance has no updatable set");
  }
  std::vector<orv::ComPtr<orv::IObject>> members;
  orv::CheckResult(joined->Lock(&members), SwitchLocation, __LINE__);
  pending = orv::ComPtr<PendingComponentSwitch>::Attach(new PendingComponentSwitch(Tracer(), members, previous));
  const orv::result_t prepared = pending->switchSet.Prepare(static_cast<IComponentInit*>(this));
  if (orv::Failed(prepared)) {
    throw orv::CheckResultFailedException(SwitchLocation, __LINE__, prepared,
                                          u"failed to prepare to the component implementation switching");
  }
  return joined;
}

template <class Step>
orv::result_t ServiceComponentFacadeImpl::UpdateBases(const char* failurePrefix, int line, Step&& step) {
  try {
    // Held across the step: a switch that commits meanwhile would drop the
    // engine the update has just reached.
    orv::SharedLockGuard<orv::ReaderWriterLock> guard(m_engineLock);
    const orv::ComPtr<Engine> engine = Read(m_engine);
    if (!engine) {
      throw orv::ResultCodeException(SwitchLocation, line, orv::result::InvalidState,
                                     u"Invalid component state, database update is not possible");
    }
    step(*engine);
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), failurePrefix);
  }
}

orv::result_t ServiceComponentFacadeImpl::VerifyBasesUpdate() { return VerifyBasesUpdate(nullptr); }

orv::result_t ServiceComponentFacadeImpl::VerifyBasesUpdate(orv::IDataStorage* storage) {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::VerifyBasesUpdate("
         << static_cast<void*>(storage) << ")";
  }
  return UpdateBases("ServiceComponentFacadeImpl::VerifyBasesUpdate(): ", 605,
                     [storage](Engine& engine) { engine.PrepareBasesSwitchTo(storage); });
}

orv::result_t ServiceComponentFacadeImpl::HandleBasesUpdate() {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::HandleBasesUpdate()";
  }
  return UpdateBases("ServiceComponentFacadeImpl::HandleBasesUpdate(): ", 632,
                     [](Engine& engine) { engine.CommitBasesSwitch(); });
}

orv::result_t ServiceComponentFacadeImpl::RollbackUpdate() {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::RollbackUpdate()";
  }
  return UpdateBases("ServiceComponentFacadeImpl::RollbackUpdate(): ", 656,
                     [](Engine& engine) { engine.RollbackBasesSwitch(); });
}

}  // namespace dnt
