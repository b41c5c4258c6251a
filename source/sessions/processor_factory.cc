#include "source/sessions/processor_factory.h"

#include "do_not_track/dnt_engine/bug_queries.h"
#include "do_not_track/dnt_engine/service_settings_validation.h"
#include "do_not_track/service_component.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/translate.h"
#include "orv/trace/trace_stream.h"
#include "source/sessions/processor.h"

namespace dnt {
namespace {

constexpr const char* FactoryLocation = "processor_factory";

}  // namespace

ProcessorFactory::ProcessorFactory(orv::IServiceLocator* locator, const ServiceSettings& settings,
                                   orv::ComPtr<BasesSlot> slot, orv::ComPtr<IWeakReferenceSet> services)
    : ComponentObject(locator),
      m_settings(CopyValidatedServiceSettings(settings)),
      m_slot(std::move(slot)),
      m_engineServices(std::move(services)) {
  TraceServiceSettings(Tracer(), settings);
}

void* ProcessorFactory::FindInterface(orv::iid_t iid) noexcept {
  if (iid == orv::IObject::iid || iid == IProcessorFactory::iid) return static_cast<IProcessorFactory*>(this);
  if (iid == IUpdatableImplementation::iid) return static_cast<IUpdatableImplementation*>(this);
  if (iid == selfIid) return this;
  return nullptr;
}

orv::ComPtr<Bases> ProcessorFactory::TakeBases() const {
  orv::ComPtr<Bases> bases = m_slot ? m_slot->Take() : nullptr;
  if (!bases) throw orv::ResultCodeException(FactoryLocation, __LINE__, orv::result::InvalidState, u"no bases are loaded");
  return bases;
}

orv::result_t ProcessorFactory::CreateHttpSessionProcessor(const SessionParams* params,
                                                           IHttpSessionProcessor** out) {
  try {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << rtl::ObjectPrefix{this} << "  ProcessorFactory::CreateHttpSessionProcessor()";
    }
    if (!out || !params) return orv::result::InvalidArgument;
    *out = nullptr;
    auto processor = rtl::MakeComponent<HttpSessionProcessor>(Locator(), orv::ComPtr<ProcessorFactory>(this),
                                                               *params, TakeBases());
    *out = processor.Detach();
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) line << "HTTP session processor created successfully";
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), "Failed to create DNT session processor: ");
  }
}

orv::result_t ProcessorFactory::IsDomainProcessingRequired(std::string_view domain, bool* required) {
  try {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << rtl::ObjectPrefix{this} << "  ProcessorFactory::IsDomainProcessingRequired()";
    }
    if (!required) return orv::result::InvalidArgument;
    if (domain.size() > UINT32_MAX) throw std::length_error("the domain is too long");
    const orv::ComPtr<Bases> bases = TakeBases();
    *required =
        IsHttpsDomainProcessingRequired(bases->Bugs(), domain.data(), static_cast<uint32_t>(domain.size()));
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), "Failed to determine if domain processing is required: ");
  }
}

orv::result_t ProcessorFactory::GetUpdatedImplementation(orv::IObject* newImplementation, orv::iid_t iid,
                                                         void** out) {
  try {
    if (!out) return orv::result::InvalidArgument;
    *out = nullptr;
    if (iid != IProcessorFactory::iid) throw orv::ResultCodeException(FactoryLocation, __LINE__);
    if (!newImplementation) return orv::result::InvalidArgument;

    orv::ComPtr<IDntServiceProvider> provider;
    orv::CheckResult(newImplementation->QueryInterface(IDntServiceProvider::iid, provider.PutVoid()), FactoryLocation,
                     __LINE__);
    orv::ComPtr<IProcessorFactory> service;
    orv::CheckResult(provider->CreateDntService(&m_settings, service.Put()), FactoryLocation, __LINE__);
    if (!service) throw orv::CheckResultFailedException(FactoryLocation, __LINE__, orv::result::Unexpected);

    // The temporary service registered itself with the new engine; it is
    // released on the way out, so only the raw implementation lives on.
    if (auto source = service.As<IRawImplementationSource>()) {
      if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
        line << "ProcessorFactory::GetUpdatedImplementation(): getting raw implementation";
      }
      orv::ComPtr<IProcessorFactory> raw;
      orv::CheckResult(source->GetRawImplementation(IProcessorFactory::iid, raw.PutVoid()), FactoryLocation, __LINE__);
      if (!raw) throw orv::CheckResultFailedException(FactoryLocation, __LINE__, orv::result::InvalidState);
      *out = raw.Detach();
    } else {
      *out = service.Detach();
    }
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(),
                                          "Failed to get an updated DNT session processor factory implementation: ");
  }
}

}  // namespace dnt
