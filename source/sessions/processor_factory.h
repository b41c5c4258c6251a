// The DNT service's factory: one session processor per HTTP session, on the
// bases current when the session opens, with the host's settings.
#pragma once

#include <string_view>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "do_not_track/service_settings.h"
#include "do_not_track/session.h"
#include "do_not_track/switching.h"
#include "source/rtl/component_object.h"

namespace dnt {

class ProcessorFactory final
    : public rtl::ComponentObject<ProcessorFactory, IProcessorFactory, IUpdatableImplementation> {
 public:
  /// Answered only by this class, with the object itself: lets the module
  /// tell its own factories from anything else a switch may hand over.
  static constexpr orv::iid_t selfIid = 0x10a1e0f0;

  /// Keeps a validated copy of `settings` (throws orv::InvalidArgumentException
  /// for repeated entries) and traces them as given. `services` is the set of
  /// the services its engine serves, which a service moved onto this factory
  /// joins; null for a factory outside an engine.
  ProcessorFactory(orv::IServiceLocator* locator, const ServiceSettings& settings, orv::ComPtr<BasesSlot> slot,
                   orv::ComPtr<IWeakReferenceSet> services = nullptr);

  void* FindInterface(orv::iid_t iid) noexcept;

  orv::result_t CreateHttpSessionProcessor(const SessionParams* params, IHttpSessionProcessor** out) override;
  orv::result_t IsDomainProcessingRequired(std::string_view domain, bool* required) override;
  orv::result_t GetUpdatedImplementation(orv::IObject* newImplementation, orv::iid_t iid, void** out) override;

  const ServiceSettings& Settings() const noexcept { return m_settings; }
  const orv::ComPtr<IWeakReferenceSet>& EngineServices() const noexcept { return m_engineServices; }

 private:
  /// The current bases with a reference; InvalidState when none is loaded.
  orv::ComPtr<Bases> TakeBases() const;

  ServiceSettings m_settings;
  orv::ComPtr<BasesSlot> m_slot;
  orv::ComPtr<IWeakReferenceSet> m_engineServices;
};

}  // namespace dnt
