#include "bench/sessions/module_host.h"

#include <dlfcn.h>

#include <stdexcept>

#include "host/capturing_tracer.h"
#include "host/counting_allocator.h"
#include "host/environment.h"
#include "host/packed_io_factory.h"
#include "orv/rtl/error_handling/result_text.h"
#include "orv/text/utf.h"

namespace dnt::bench {
namespace {

void Check(orv::result_t code, const char* call) {
  if (orv::Failed(code)) throw std::runtime_error(std::string(call) + " failed: " + orv::DescribeResultCode(code));
}

template <class Function>
Function Export(void* handle, const char* name) {
  void* symbol = ::dlsym(handle, name);
  if (!symbol) throw std::runtime_error(std::string("the module does not export ") + name);
  return reinterpret_cast<Function>(symbol);
}

}  // namespace

ModuleHost::ModuleHost(const std::string& modulePath, const std::string& basesDirectory,
                       const ServiceSettings& settings) {
  m_handle = ::dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_handle) throw std::runtime_error("cannot load " + modulePath + ": " + ::dlerror());
  const auto getObjectFactory = Export<decltype(&orvGetObjectFactory)>(m_handle, "orvGetObjectFactory");

  // Failures only, and no lock for the refused levels, so that the tracer
  // does not serialise the threads being measured.
  const orv::ComPtr<orv::ITracer> tracer(host::MakeHostObject<host::StreamTracer>(stderr, orv::trace_level::Failure));
  const auto directory = orv::text::FromUtf8(basesDirectory);
  if (!directory) throw std::runtime_error("the bases directory name is not UTF-8");
  m_locator = host::MakeHostObject<host::ServiceLocator>();
  host::ServiceLocator* locator = m_locator.Get();
  locator->Register(tracer);
  locator->Register(orv::ComPtr<orv::IAllocator>(host::MakeHostObject<host::CountingAllocator>()));
  locator->Register(orv::ComPtr<orv::IPackedIOFactory>(host::MakeHostObject<host::PackedIOFactory>()));
  locator->Register(orv::ComPtr<orv::IEnvironment>(host::MakeHostObject<host::Environment>(*directory)));

  orv::ComPtr<orv::IObjectFactory> factory;
  Check(getObjectFactory(locator, orv::ServiceComponentClassId, factory.Put()), "orvGetObjectFactory");
  Check(factory->CreateInstance(locator, IComponentInit::iid, m_component.PutVoid()), "CreateInstance");
  Check(m_component->Verify(nullptr), "Verify");
  Check(m_component->Init(nullptr), "Init");
  const auto provider = m_component.As<IDntServiceProvider>();
  if (!provider) throw std::runtime_error("the service component does not answer IDntServiceProvider");
  Check(provider->CreateDntService(&settings, m_service.Put()), "CreateDntService");
}

ModuleHost::~ModuleHost() {
  m_service = {};
  m_component = {};
  m_locator = {};
  // The module stays loaded when it still holds objects.
  if (const auto canUnload = reinterpret_cast<decltype(&orvCanUnloadModule)>(::dlsym(m_handle, "orvCanUnloadModule"));
      canUnload && canUnload() == 0) {
    ::dlclose(m_handle);
  }
}

}  // namespace dnt::bench
