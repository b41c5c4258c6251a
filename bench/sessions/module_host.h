// The engine as a host reaches it, for the session benchmark: the module
// loaded at run time and driven through its two exports and the SDK
// interfaces only, on a bases directory, with the reference host services.
#pragma once

#include <string>

#include "do_not_track/service_component.h"
#include "host/service_locator.h"
#include "orv/com_ptr.h"

namespace dnt::bench {

class ModuleHost {
 public:
  /// Loads `modulePath`, creates and verifies its service component on the
  /// bases in `basesDirectory` and starts the DNT service with `settings`.
  /// Throws std::runtime_error when any step fails.
  ModuleHost(const std::string& modulePath, const std::string& basesDirectory, const ServiceSettings& settings);
  ~ModuleHost();
  ModuleHost(const ModuleHost&) = delete;
  ModuleHost& operator=(const ModuleHost&) = delete;

  IProcessorFactory& Service() const noexcept { return *m_service; }

 private:
  void* m_handle = nullptr;
  orv::ComPtr<host::ServiceLocator> m_locator;
  orv::ComPtr<IComponentInit> m_component;
  orv::ComPtr<IProcessorFactory> m_service;
};

}  // namespace dnt::bench
