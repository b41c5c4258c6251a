// Platform layer for loading a module at run time, as a host loads the
// engine through its two exports. One implementation file per platform sits
// beside this header (loadable_module_posix.cc, loadable_module_win.cc).
#pragma once

#include <string>

namespace orv::system {

class LoadableModule {
 public:
  LoadableModule() = default;
  /// Unloads the module if it is loaded.
  ~LoadableModule();
  LoadableModule(const LoadableModule&) = delete;
  LoadableModule& operator=(const LoadableModule&) = delete;

  /// Loads the module at `path` (UTF-8), resolving its references at once.
  /// False, with the platform's reason in `error`, when it cannot.
  bool Load(const std::string& path, std::string& error);
  /// The address of the exported function `name`; null when there is none.
  void* Symbol(const char* name) const;
  /// Unloads the module; nothing when none is loaded.
  void Unload();
  /// Leaves the module loaded for the rest of the process and forgets it.
  void Abandon() noexcept { m_handle = nullptr; }
  bool Loaded() const noexcept { return m_handle != nullptr; }

 private:
  void* m_handle = nullptr;
};

}  // namespace orv::system
