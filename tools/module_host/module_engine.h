// The engine as any host reaches it: libdnt_engine.so loaded at run time and
// driven through its two exports, the SDK interfaces and the reference host
// services.
#pragma once

#include <memory>
#include <string>

#include "tools/module_host/engine.h"

namespace module_host {

struct ModuleEngineOptions {
  std::string modulePath;
  std::string basesDirectory;
  /// Every trace line of the engine to standard error; otherwise its failure
  /// lines go into the texts of EngineError.
  bool trace = false;
};

class ModuleEngine final : public Engine {
 public:
  /// Loads the module, creates its service component and verifies it on the
  /// bases. Throws EngineError.
  explicit ModuleEngine(const ModuleEngineOptions& options);
  /// Releases every object, then unloads the module when it has no live
  /// object left.
  ~ModuleEngine() override;

  std::vector<TrackingService> Services() override;
  void Start(const dnt::ServiceSettings& settings) override;
  bool ProcessingRequired(const std::string& domain) override;
  std::unique_ptr<EngineSession> OpenSession(const std::string& domain) override;

 private:
  struct Module;
  struct Objects;

  std::unique_ptr<Module> m_module;
  std::unique_ptr<Objects> m_objects;
};

}  // namespace module_host
