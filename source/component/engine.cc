#include "source/component/engine.h"

#include "do_not_track/dnt_engine/bug_queries.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/translate.h"
#include "orv/trace/trace_stream.h"
#include "orv/trace/version.h"
#include "source/component/bases_loading.h"
#include "source/sessions/processor_factory.h"
#include "source/sessions/processor_factory_facade.h"

namespace dnt {
namespace {

constexpr const char* EngineLocation = "engine";
constexpr uint32_t InterfaceRevision = 2;

/// Counts the redirections to successors on this thread's stack.
class RedirectDepth {
 public:
  RedirectDepth() {
    if (s_depth >= Maximum) {
      throw orv::ResultCodeException(EngineLocation, __LINE__, orv::result::InvalidState, u"the engines' successors loop");
    }
    ++s_depth;
  }
  ~RedirectDepth() { --s_depth; }
  RedirectDepth(const RedirectDepth&) = delete;
  RedirectDepth& operator=(const RedirectDepth&) = delete;

 private:
  static constexpr int Maximum = 64;
  static thread_local int s_depth;
};

thread_local int RedirectDepth::s_depth = 0;

}  // namespace

void FillComponentVersion(ComponentVersion& version) noexcept {
  const orv::ProductVersion& product = orv::GetProductVersion();
  version = {product.major, product.minor, product.build, product.revision, InterfaceRevision};
}

Engine::Engine(orv::IServiceLocator* locator, orv::ComPtr<IWeakReferenceSet> updatables, orv::ComPtr<Bases> bases)
    : ComponentObject(locator), m_slot(new BasesSlot()), m_updatables(std::move(updatables)) {
  m_slot->Set(bases.Get());
}

void* Engine::FindInterface(orv::iid_t iid) noexcept {
  if (iid == orv::IObject::iid || iid == IDntServiceProvider::iid) return static_cast<IDntServiceProvider*>(this);
  if (iid == IDntBasesInfo::iid) return static_cast<IDntBasesInfo*>(this);
  if (iid == IComponentVersion::iid) return static_cast<IComponentVersion*>(this);
  return nullptr;
}

orv::ComPtr<Bases> Engine::TakeBases() const {
  orv::ComPtr<Bases> bases = m_slot->Take();
  if (!bases) throw orv::ResultCodeException(EngineLocation, __LINE__, orv::result::InvalidState, u"no bases are loaded");
  return bases;
}

orv::result_t Engine::CreateDntService(const ServiceSettings* settings, IProcessorFactory** out) {
  try {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << rtl::ObjectPrefix{this} << "   Engine::CreateDntService()";
    }
    if (!settings || !out) return orv::result::InvalidArgument;
    *out = nullptr;
    orv::ComPtr<IDntServiceProvider> successor;
    {
      std::unique_lock gate(m_gateLock);
      m_gateOpened.wait(gate, [this] { return m_gate != Gate::Sealed; });
      if (m_gate == Gate::Serving) {
        *out = MakeServiceLocked(*settings).Detach();
        return orv::result::NoError;
      }
      successor = m_successor;
    }
    // Superseded: the service belongs on the engine that serves now. A host
    // that switches instances outside one chain can make successors loop.
    const RedirectDepth depth;
    return successor->CreateDntService(settings, out);
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), "Failed to create DNT service: ");
  }
}

orv::ComPtr<IProcessorFactory> Engine::MakeServiceLocked(const ServiceSettings& settings) {
  auto factory = rtl::MakeComponent<ProcessorFactory>(Locator(), settings, m_slot, m_updatables);
  auto facade = rtl::MakeComponent<ProcessorFactoryFacade>(Locator(), orv::ComPtr<IProcessorFactory>(factory.Get()),
                                                           m_updatables);
  orv::ComPtr<orv::IWeakReference> weak;
  const orv::result_t r = facade->GetWeakReference(weak.Put());
  if (orv::Failed(r)) throw orv::CreateInstanceException("weak_impl", 240, 0, r);
  if (m_updatables) orv::CheckResult(m_updatables->Insert(weak.Get()), EngineLocation, __LINE__);
  return orv::ComPtr<IProcessorFactory>(static_cast<IProcessorFactory*>(facade.Get()));
}

orv::result_t Engine::GetSupportedTrackingServices(uint32_t category,
                                                   std::vector<SupportedTrackingService>* services) {
  try {
    if (!services) return orv::result::InvalidArgument;
    dnt::GetSupportedTrackingServices(TakeBases()->Bugs(), category, *services);
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), "Failed to enumerate supported tracking services: ");
  }
}

orv::result_t Engine::GetPartnerSites(std::vector<std::u16string>* sites) {
  return EnumerateSites(&BugBases::PartnerSites, sites, "Failed to enumerate partner sites: ");
}

orv::result_t Engine::GetIncompatibleSites(std::vector<std::u16string>* sites) {
  return EnumerateSites(&BugBases::IncompatibleSites, sites, "Failed to enumerate incompatible sites: ");
}

orv::result_t Engine::EnumerateSites(SiteList list, std::vector<std::u16string>* sites, const char* failure) {
  try {
    if (!sites) return orv::result::InvalidArgument;
    (TakeBases()->Bugs().*list)().Enumerate(*sites);
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), failure);
  }
}

orv::result_t Engine::GetSiteCategory(std::string_view site, uint32_t* category) {
  try {
    if (!category) return orv::result::InvalidArgument;
    if (site.size() > UINT32_MAX) throw std::length_error("the site is too long");
    *category = dnt::GetSiteCategory(TakeBases()->Bugs(), site.data(), static_cast<uint32_t>(site.size()));
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), nullptr);
  }
}

orv::result_t Engine::GetVersion(ComponentVersion* version) {
  if (!version) return orv::result::InvalidArgument;
  FillComponentVersion(*version);
  return orv::result::NoError;
}

void Engine::PrepareBasesSwitchTo(orv::IDataStorage* storage) {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) line << "Engine::PrepareBasesSwitchTo() is called";
  // Held across the load: two updates must not both pass the check below.
  std::lock_guard<std::mutex> update(m_updateLock);
  if (m_pending) throw orv::CheckFailedException(EngineLocation, 84);
  m_pending = LoadBases(Services(), storage);
}

void Engine::CommitBasesSwitch() {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) line << "Engine::CommitBasesSwitch() is called";
  std::lock_guard<std::mutex> update(m_updateLock);
  if (!m_pending) throw orv::CheckFailedException(EngineLocation, 92);
  m_slot->Set(m_pending.Get());
  m_pending.Reset();
}

void Engine::RollbackBasesSwitch() {
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) line << "Engine::RollbackBasesSwitch() is called";
  orv::ComPtr<Bases> dropped;
  std::lock_guard<std::mutex> update(m_updateLock);
  dropped = std::move(m_pending);
}

void Engine::SealForSwitch() {
  std::lock_guard gate(m_gateLock);
  m_gate = Gate::Sealed;
}

void Engine::EndSwitch(orv::ComPtr<IDntServiceProvider> successor) noexcept {
  {
    std::lock_guard gate(m_gateLock);
    if (successor.Get() == static_cast<IDntServiceProvider*>(this)) successor.Reset();
    m_gate = successor ? Gate::Superseded : Gate::Serving;
    m_successor = std::move(successor);
  }
  m_gateOpened.notify_all();
}

}  // namespace dnt
