#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "exports/module_exports.h"
#include "tests/component/test_component.h"
#include "tests/support/host_test.h"

namespace {

using namespace orv;
using dnt::testing::ITestInterface;
using dnt::testing::TestComponent;
using dnt::testing::TestComponentCreator;

class ObjectModelTest : public dnt::testing::HostTest {
 protected:
  void SetUp() override { TestComponent::control = {}; }
  void TearDown() override {
    HostTest::TearDown();
    EXPECT_EQ(dnt::CanUnloadModule(), result::NoError);
  }

  ComPtr<ITestInterface> Create(result_t expected = result::NoError) {
    ComPtr<ITestInterface> object;
    EXPECT_EQ(TestComponentCreator::Create(locator.Get(), ITestInterface::iid, object.PutVoid()), expected);
    return object;
  }
};

TEST_F(ObjectModelTest, UnsupportedInterfaceOrFailedConstructionLeavesNothing) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(TestComponentCreator::Create(locator.Get(), 0x12345678, &out), result::InterfaceNotSupported);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(TestComponent::control.finalReleases, 1);
  EXPECT_TRUE(tracer->Lines().empty());

  TestComponent::control.finalConstructResult = result::InvalidState;
  EXPECT_FALSE(Create(result::InvalidState));
  EXPECT_EQ(TestComponent::control.finalReleases, 2);  // FinalRelease runs after a failed FinalConstruct
  EXPECT_EQ(TestComponent::control.destructions, 2);
  auto failures = tracer->Texts(300);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0], "Failed to construct object; result = 8000006a");

  tracer->Clear();
  TestComponent::control = {};
  TestComponent::control.throwInConstructor = true;
  EXPECT_FALSE(Create(result::ExceptionHasNoResultCode));
  EXPECT_EQ(TestComponent::control.finalReleases, 0);
  ASSERT_EQ(tracer->Texts(300).size(), 1u);
  EXPECT_EQ(tracer->Texts(300)[0], "Exception during object construction:  constructor failed");
}

TEST_F(ObjectModelTest, MissingOrFailingHostServicesGiveTheirCodes) {
  allocator->SetFailing(true);
  EXPECT_FALSE(Create(result::OutOfMemory));
  allocator->SetFailing(false);

  locator->Register(ITracer::iid, nullptr);
  EXPECT_FALSE(Create(result::NotFound));  // GetInterfaceException carries the lookup's code

  locator->Register(tracer);
  locator->FailLookup(IAllocator::iid, result::AccessDenied);
  EXPECT_FALSE(Create(result::AccessDenied));

  void* out = nullptr;
  EXPECT_EQ(TestComponentCreator::Create(locator.Get(), ITestInterface::iid, nullptr), result::InvalidArgument);
  EXPECT_EQ(TestComponentCreator::Create(nullptr, ITestInterface::iid, &out), result::InvalidArgument);
}

TEST_F(ObjectModelTest, WeakReferenceLocksOnlyWhileTheObjectLives) {
  auto object = Create();
  auto source = object.As<IWeakReferenceSource>();
  ComPtr<IWeakReference> weak;
  ASSERT_EQ(source->GetWeakReference(weak.Put()), 0u);
  EXPECT_EQ(source->GetWeakReference(nullptr), result::InvalidArgument);
  EXPECT_EQ(weak->Lock(ITestInterface::iid, nullptr), result::InvalidArgument);

  // The weak reference answers IObject only, itself included.
  ComPtr<IObject> self;
  EXPECT_EQ(weak->QueryInterface(0, self.PutVoid()), 0u);
  ComPtr<IWeakReference> notAgain;
  EXPECT_EQ(weak->QueryInterface(IWeakReferenceSource::iid, notAgain.PutVoid()), result::InterfaceNotSupported);
  self.Reset();
  source.Reset();

  ComPtr<ITestInterface> locked;
  ASSERT_EQ(weak->Lock(ITestInterface::iid, locked.PutVoid()), 0u);
  EXPECT_EQ(locked->AddRef(), 3u);  // ours, the lock's, and this one
  locked->Release();
  ComPtr<IObject> wrongInterface;
  EXPECT_EQ(weak->Lock(0x5555, wrongInterface.PutVoid()), result::InterfaceNotSupported);
  object.Reset();
  EXPECT_EQ(TestComponent::control.destructions, 0);
  locked.Reset();
  EXPECT_EQ(TestComponent::control.destructions, 1);

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(weak->Lock(ITestInterface::iid, &out), result::InvalidState);
  EXPECT_EQ(out, nullptr);
}

TEST_F(ObjectModelTest, LockRacingTheLastReleaseNeverRevives) {
  for (int round = 0; round < 300; ++round) {
    auto object = Create();
    ComPtr<IWeakReference> weak;
    object.As<IWeakReferenceSource>()->GetWeakReference(weak.Put());
    std::atomic<bool> go{false};
    result_t lockResult = 0;
    std::thread locker([&] {
      while (!go.load()) {
      }
      ComPtr<ITestInterface> locked;
      lockResult = weak->Lock(ITestInterface::iid, locked.PutVoid());
      if (lockResult == 0) {
        EXPECT_EQ(locked->Value(), 42);
      }
    });
    go.store(true);
    object.Reset();
    locker.join();
    EXPECT_TRUE(lockResult == 0 || lockResult == result::InvalidState) << std::hex << lockResult;
    EXPECT_EQ(weak->Lock(ITestInterface::iid, reinterpret_cast<void**>(object.Put())), result::InvalidState);
    EXPECT_EQ(TestComponent::control.destructions, round + 1);
  }
}

TEST_F(ObjectModelTest, FinalReleaseHoldingItselfDestroysOnceAndLocksNothing) {
  auto object = Create();
  ComPtr<IWeakReference> weak;
  object.As<IWeakReferenceSource>()->GetWeakReference(weak.Put());
  result_t lockResult = 0;
  TestComponent::control.onFinalRelease = [&](TestComponent& self) {
    // What an object that unregisters itself does: hold itself meanwhile.
    ComPtr<ITestInterface> held(&self);
    ComPtr<ITestInterface> locked;
    lockResult = weak->Lock(ITestInterface::iid, locked.PutVoid());
    EXPECT_FALSE(locked);
  };
  object.Reset();
  EXPECT_EQ(lockResult, result::InvalidState);
  EXPECT_EQ(TestComponent::control.finalReleases, 1);
  EXPECT_EQ(TestComponent::control.destructions, 1);
  void* out = nullptr;
  EXPECT_EQ(weak->Lock(ITestInterface::iid, &out), result::InvalidState);
}

TEST(ModuleExports, UnknownClassIdsAreNotImplemented) {
  for (clsid_t clsid : {0u, 1u, ServiceComponentClassId ^ 1u, ServiceComponentClassId ^ 0x80000000u}) {
    IObjectFactory* out = reinterpret_cast<IObjectFactory*>(1);
    EXPECT_EQ(dnt::GetObjectFactory<TestComponentCreator>(nullptr, clsid, &out), result::NotImplemented);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(dnt::CanUnloadModule(), result::NoError);
}

TEST(ModuleExportsDeathTest, ReservedClassIdTerminates) {
  EXPECT_DEATH(
      {
        IObjectFactory* out = nullptr;
        dnt::GetObjectFactory<TestComponentCreator>(nullptr, dnt::TerminateClassId, &out);
      },
      "");
}

}  // namespace
