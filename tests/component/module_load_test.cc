// The module as a host process sees it: loaded at run time, reached through
// its two exports only.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "host/counting_allocator.h"
#include "host/capturing_tracer.h"
#include "host/service_locator.h"
#include "orv/com_ptr.h"

namespace {

using namespace orv;
using GetFactoryFn = result_t (*)(IServiceLocator*, clsid_t, IObjectFactory**);
using CanUnloadFn = result_t (*)();

TEST(ModuleLoad, ExportsAnswerAndTheModuleBecomesUnloadable) {
  void* module = dlopen(DNT_ENGINE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto getFactory = reinterpret_cast<GetFactoryFn>(dlsym(module, "orvGetObjectFactory"));
  auto canUnload = reinterpret_cast<CanUnloadFn>(dlsym(module, "orvCanUnloadModule"));
  ASSERT_TRUE(getFactory && canUnload);
  // Internal symbols stay hidden.
  EXPECT_EQ(dlsym(module, "_ZN3orv24TranslateCurrentExceptionEPNS_7ITracerEPKc"), nullptr);

  EXPECT_EQ(canUnload(), 0u);
  ComPtr<IObjectFactory> factory;
  ASSERT_EQ(getFactory(nullptr, ServiceComponentClassId, factory.Put()), 0u);
  EXPECT_EQ(canUnload(), 1u);
  ComPtr<IObjectFactory> none;
  EXPECT_EQ(getFactory(nullptr, 0x08c5520c, none.Put()), 0x80000043u);
  EXPECT_FALSE(none);
  factory.Reset();
  EXPECT_EQ(canUnload(), 0u);
  dlclose(module);
}

}  // namespace
