#include "source/component/service_component_facade.h"

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/translate.h"
#include "orv/trace/trace_stream.h"
#include "orv/trace/version.h"
#include "source/component/bases_loading.h"
#include "source/component/weak_reference_set.h"

namespace dnt {
namespace {

constexpr const char* FacadeLocation = "service_component_facade";

}  // namespace

ServiceComponentFacadeImpl::ServiceComponentFacadeImpl(orv::IServiceLocator* locator)
    : ComponentObject(locator),
      m_engineLock(Tracer()),
      m_updatables(rtl::MakeComponent<WeakReferenceSet>(locator)) {}

ServiceComponentFacadeImpl::~ServiceComponentFacadeImpl() = default;

void* ServiceComponentFacadeImpl::FindInterface(orv::iid_t iid) noexcept {
  switch (iid) {
    case orv::IObject::iid:
    case IDntServiceProvider::iid:
      return static_cast<IDntServiceProvider*>(this);
    case IDntBasesInfo::iid:
    case IDntBasesInfo::alternateIid:
      return static_cast<IDntBasesInfo*>(this);
    case ISwitchableImplementation::iid:
      return static_cast<ISwitchableImplementation*>(this);
    case IRawImplementationSource::iid:
      return static_cast<IRawImplementationSource*>(this);
    case IUpdatableSetSource::iid:
      return static_cast<IUpdatableSetSource*>(this);
    case IComponentVersion::iid:
      return static_cast<IComponentVersion*>(this);
    case IComponentInit::iid:
      return static_cast<IComponentInit*>(this);
    case IBasesUpdateHandler::iid:
      return static_cast<IBasesUpdateHandler*>(this);
    case IStorageConsumer::iid:
      return static_cast<IStorageConsumer*>(this);
    case IBasesUpdateHandler2::iid:
      return static_cast<IBasesUpdateHandler2*>(this);
    default:
      return nullptr;
  }
}

orv::result_t ServiceComponentFacadeImpl::FinalConstruct() {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::FinalConstruct()";
  }
  return orv::result::NoError;
}

void ServiceComponentFacadeImpl::FinalRelease() {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  entered ServiceComponentFacadeImpl::FinalRelease()";
  }
  // A switch prepared through this object and never ended: its services
  // stay where they are and its engine serves again.
  if (const orv::ComPtr<SwitchLocalStorage> prepared = std::move(m_preparedStorage)) {
    prepared->updatables->Rollback();
    prepared->EndSeal(false);
  }
  if (const orv::ComPtr<PendingComponentSwitch> pending = std::move(m_pendingSwitch)) {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::FinalRelease(): rolling back";
    }
    pending->switchSet.Rollback();
  }
  if (const orv::ComPtr<IWeakReferenceSet> joined = std::move(m_joinedSet)) {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::FinalRelease(): leaving updatables";
    }
    joined->Remove(OwnWeakReference());
  }
}

template <class Interface, class Call>
orv::result_t ServiceComponentFacadeImpl::Forward(const char* method, const orv::ComPtr<Interface>& member,
                                                  Call&& call, Hold hold) {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::" << method << "()";
  }
  try {
    orv::ComPtr<Interface> target;
    {
      orv::SharedLockGuard<orv::ReaderWriterLock> guard(m_engineLock);
      target = Read(member);
      if (target && hold == Hold::Call) return call(target.Get());
    }
    return target ? call(target.Get()) : orv::result::InvalidState;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), nullptr);
  }
}

// The engine may hold a new service back until a switch away from it ends,
// and that switch may be waiting for this instance's lock: the call must not
// hold it.
orv::result_t ServiceComponentFacadeImpl::CreateDntService(const ServiceSettings* settings, IProcessorFactory** out) {
  return Forward(
      "CreateDntService", m_serviceProvider,
      [&](IDntServiceProvider* p) { return p->CreateDntService(settings, out); }, Hold::Read);
}

orv::result_t ServiceComponentFacadeImpl::GetSupportedTrackingServices(
    uint32_t category, std::vector<SupportedTrackingService>* services) {
  return Forward("GetSupportedTrackingServices", m_basesInfo,
                 [&](IDntBasesInfo* i) { return i->GetSupportedTrackingServices(category, services); });
}

orv::result_t ServiceComponentFacadeImpl::GetPartnerSites(std::vector<std::u16string>* sites) {
  return Forward("GetPartnerSites", m_basesInfo, [&](IDntBasesInfo* i) { return i->GetPartnerSites(sites); });
}

orv::result_t ServiceComponentFacadeImpl::GetIncompatibleSites(std::vector<std::u16string>* sites) {
  return Forward("GetIncompatibleSites", m_basesInfo,
                 [&](IDntBasesInfo* i) { return i->GetIncompatibleSites(sites); });
}

orv::result_t ServiceComponentFacadeImpl::GetSiteCategory(std::string_view site, uint32_t* category) {
  return Forward("GetSiteCategory", m_basesInfo,
                 [&](IDntBasesInfo* i) { return i->GetSiteCategory(site, category); });
}

orv::result_t ServiceComponentFacadeImpl::GetRawImplementation(orv::iid_t iid, void** out) {
  try {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::GetRawImplementation(): serviceIid = 0x"
           << orv::hex << iid;
    }
    if (!out) return orv::result::InvalidArgument;
    *out = nullptr;
    if (iid == IDntServiceProvider::iid) {
      *out = Read(m_serviceProvider).Detach();
    } else if (iid == IDntBasesInfo::iid) {
      *out = Read(m_basesInfo).Detach();
    } else {
      throw orv::ResultCodeException(FacadeLocation, 483, orv::result::InterfaceNotSupported, {});
    }
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), nullptr);
  }
}

orv::result_t ServiceComponentFacadeImpl::GetUpdatableSet(IWeakReferenceSet** out) {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::GetUpdatableSet()";
  }
  if (!out) return orv::result::InvalidArgument;
  *out = Read(m_joinedSet).Detach();
  return orv::result::NoError;
}

orv::result_t ServiceComponentFacadeImpl::GetVersion(ComponentVersion* version) {
  if (!version) return orv::result::InvalidArgument;
  FillComponentVersion(*version);
  return orv::result::NoError;
}

orv::result_t ServiceComponentFacadeImpl::SetStorage(orv::IDataStorage* storage) {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::SetStorage()";
  }
  orv::ComPtr<orv::IDataStorage> kept(storage);
  {
    orv::system::CriticalSectionLock lock(m_pointerLock);
    std::swap(m_storage, kept);
  }
  return orv::result::NoError;
}

// Everything is built aside and published only when the whole start-up has
// succeeded, so a failed Verify leaves the object as it was and the host may
// try again.
orv::result_t ServiceComponentFacadeImpl::Verify(orv::IObject* previousInstance) {
  try {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::Verify(): prevInstance = "
           << static_cast<void*>(previousInstance);
    }
    if (Read(m_joinedSet)) return orv::result::InvalidState;  // verified already
    if (previousInstance && SameObject(previousInstance, static_cast<IComponentInit*>(this))) {
      return orv::result::InvalidArgument;
    }

    const orv::ComPtr<Bases> bases = LoadBases(Services(), Read(m_storage).Get());
    const auto engine = rtl::MakeComponent<Engine>(Locator(), m_updatables, bases);
    orv::ComPtr<IDntServiceProvider> provider;
    orv::CheckResult(engine->QueryInterface(IDntServiceProvider::iid, provider.PutVoid()), FacadeLocation, 238);
    orv::ComPtr<IDntBasesInfo> basesInfo;
    orv::CheckResult(engine->QueryInterface(IDntBasesInfo::iid, basesInfo.PutVoid()), FacadeLocation, 239);
    if (orv::TraceStream line{Tracer(), orv::trace_level::Milestone}) {
      line << orv::GetProductVersion() << " initialized successfully";
    }

    // Published before the switch is prepared: the previous instances take
    // this instance's engine through GetRawImplementation.
    {
      orv::system::CriticalSectionLock lock(m_pointerLock);
      m_serviceProvider = provider;
      m_basesInfo = basesInfo;
      m_engine = engine;
    }
    orv::ComPtr<PendingComponentSwitch> pending;
    try {
      orv::ComPtr<IWeakReferenceSet> joined = previousInstance
                                                  ? PrepareComponentSwitch(previousInstance, pending)
                                                  : orv::ComPtr<IWeakReferenceSet>(rtl::MakeComponent<WeakReferenceSet>(Locator()));
      orv::CheckResult(joined->Insert(OwnWeakReference()), FacadeLocation, 553);
      orv::system::CriticalSectionLock lock(m_pointerLock);
      m_joinedSet = std::move(joined);
      m_pendingSwitch = std::move(pending);
      m_storage.Reset();
    } catch (...) {
      // The previous instances must not stay locked for a switch that will
      // never be committed.
      if (pending) pending->switchSet.Rollback();
      orv::system::CriticalSectionLock lock(m_pointerLock);
      m_serviceProvider.Reset();
      m_basesInfo.Reset();
      m_engine.Reset();
      throw;
    }
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), "ServiceComponentFacadeImpl::Verify(): ");
  }
}

orv::result_t ServiceComponentFacadeImpl::Init(orv::IObject* previousInstance) {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << rtl::ObjectPrefix{this} << "  ServiceComponentFacadeImpl::Init(): prevInstance = "
         << static_cast<void*>(previousInstance);
  }
  if (!previousInstance) return orv::result::NoError;
  orv::ComPtr<PendingComponentSwitch> pending;
  {
    orv::system::CriticalSectionLock lock(m_pointerLock);
    pending = std::move(m_pendingSwitch);
  }
  if (!pending) return orv::result::InvalidState;
  pending->switchSet.Commit();
  if (orv::TraceStream line{Tracer(), orv::trace_level::Milestone}) {
    line << "The processing is now performed with " << orv::GetProductVersion();
  }
  return orv::result::NoError;
}

}  // namespace dnt
