// A component object for exercising the object model: it can be told to fail
// in its constructor or FinalConstruct and reports its lifecycle.
#pragma once

#include <functional>
#include <stdexcept>

#include "source/rtl/component_object.h"

namespace dnt::testing {

class ITestInterface : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0x7e570001;
  virtual int Value() = 0;

 protected:
  ~ITestInterface() = default;
};

struct TestComponentControl {
  bool throwInConstructor = false;
  orv::result_t finalConstructResult = 0;
  int finalReleases = 0;
  std::function<void(class TestComponent&)> onFinalRelease;
  int destructions = 0;
};

class TestComponent final : public rtl::ComponentObject<TestComponent, ITestInterface> {
 public:
  static inline TestComponentControl control;

  explicit TestComponent(orv::IServiceLocator* locator) : ComponentObject(locator) {
    if (control.throwInConstructor) throw std::runtime_error("constructor failed");
  }
  ~TestComponent() { ++control.destructions; }

  orv::result_t FinalConstruct() { return control.finalConstructResult; }
  void FinalRelease() {
    ++control.finalReleases;
    if (control.onFinalRelease) control.onFinalRelease(*this);
  }

  void* FindInterface(orv::iid_t iid) {
    if (iid == orv::IObject::iid || iid == ITestInterface::iid) return static_cast<ITestInterface*>(this);
    return nullptr;
  }
  int Value() override { return 42; }
};

struct TestComponentCreator {
  static orv::result_t Create(orv::IServiceLocator* locator, orv::iid_t iid, void** out) {
    return rtl::CreateComponentInstance<TestComponent>(locator, iid, out);
  }
};

}  // namespace dnt::testing
