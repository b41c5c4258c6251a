#include <dlfcn.h>

#include "orv/system/loadable_module.h"

namespace orv::system {

LoadableModule::~LoadableModule() { Unload(); }

bool LoadableModule::Load(const std::string& path, std::string& error) {
  Unload();
  m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_handle) {
    const char* reason = ::dlerror();
    error = reason ? reason : "the module cannot be loaded";
  }
  return m_handle != nullptr;
}

void* LoadableModule::Symbol(const char* name) const { return m_handle ? ::dlsym(m_handle, name) : nullptr; }

void LoadableModule::Unload() {
  if (m_handle) ::dlclose(m_handle);
  m_handle = nullptr;
}

}  // namespace orv::system
