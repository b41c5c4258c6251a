// The engine as any host reaches it: libdnt_engine.so loaded at run time and
// driven through its two exports, the SDK interfaces and the reference host
// services.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/module_host/engine.h"

namespace orv {
class IDataStorage;
}

namespace module_host {

/// A base file held in memory, under its name in a bases directory.
struct BaseFile {
  std::string name;
  std::string bytes;
};
using BaseFileSet = std::vector<BaseFile>;

struct ModuleEngineOptions {
  std::string modulePath;
  std::string basesDirectory;
  /// Every trace line of the engine to standard error; otherwise its failure
  /// lines go into the texts of EngineError.
  bool trace = false;
  /// When not empty, the bases are these files instead of the bases
  /// directory's: given to the component as a storage of the host's, so it
  /// reads exactly these bytes.
  BaseFileSet baseFiles;
};

/// Once started, any thread may open sessions and ask questions; a session is
/// used by one thread at a time.
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

  /// Loads the bases directory again and serves from it in place of the
  /// bases loaded so far: sessions opened before keep theirs, sessions
  /// opened afterwards get the new ones. Bases that do not load are rolled
  /// back and the old ones stay. Throws EngineError.
  void UpdateBases();
  /// The same with `files` as the new bases, in place of the directory's.
  void UpdateBases(const BaseFileSet& files);

  /// When the bug database being served was built, as the engine says it
  /// (UTC, "2024-03-01T13:05:09Z"); empty when the bases do not say, or
  /// when the engine's trace goes to standard error (--trace) instead.
  std::string BasesBuiltOn() const;

 private:
  struct Module;
  struct Objects;

  void Update(orv::IDataStorage* storage);

  std::unique_ptr<Module> m_module;
  std::unique_ptr<Objects> m_objects;
  mutable std::mutex m_builtOnLock;
  std::string m_builtOn;
};

}  // namespace module_host
