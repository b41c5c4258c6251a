#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "host/capturing_tracer.h"
#include "host/host_object.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "source/component/implementation_set_switch.h"
#include "source/component/weak_reference_set.h"
#include "tests/component/test_component.h"
#include "tests/support/host_test.h"
#include "tests/support/watchdog.h"

namespace {

using namespace orv;
using dnt::testing::ITestInterface;
using dnt::testing::TestComponentCreator;

/// A weak reference of the host's own, whose Lock runs `onLock` first.
class HostWeakReference final : public RefCounted<IWeakReference> {
 public:
  explicit HostWeakReference(result_t result, std::function<void()> onLock = {})
      : m_result(result), m_onLock(std::move(onLock)) {}
  result_t Lock(iid_t, void** out) override {
    if (m_onLock) m_onLock();
    *out = nullptr;
    if (Failed(m_result)) return m_result;
    AddRef();
    *out = static_cast<IObject*>(this);
    return result::NoError;
  }

 private:
  result_t m_result;
  std::function<void()> m_onLock;
};

class WeakReferenceSetTest : public dnt::testing::HostTest {
 protected:
  void TearDown() override {
    set.Reset();
    HostTest::TearDown();
  }

  ComPtr<IWeakReference> WeakOf(const ComPtr<ITestInterface>& object) {
    auto source = object.As<IWeakReferenceSource>();
    ComPtr<IWeakReference> weak;
    EXPECT_EQ(source->GetWeakReference(weak.Put()), 0u);
    return weak;
  }
  ComPtr<ITestInterface> NewObject() {
    ComPtr<ITestInterface> object;
    EXPECT_EQ(TestComponentCreator::Create(locator.Get(), ITestInterface::iid, object.PutVoid()), 0u);
    return object;
  }
  std::vector<ComPtr<IObject>> Locked(result_t expected = result::NoError) {
    std::vector<ComPtr<IObject>> objects;
    EXPECT_EQ(set->Lock(&objects), expected);
    return objects;
  }

  ComPtr<dnt::WeakReferenceSet> set = dnt::rtl::MakeComponent<dnt::WeakReferenceSet>(locator.Get());
};

TEST_F(WeakReferenceSetTest, KeepsOneEntryPerReferenceAndForgetsTheDead) {
  auto kept = NewObject();
  auto dying = NewObject();
  const auto keptWeak = WeakOf(kept);
  const auto dyingWeak = WeakOf(dying);
  EXPECT_EQ(set->Insert(keptWeak.Get()), 0u);
  EXPECT_EQ(set->Insert(keptWeak.Get()), 0u);
  EXPECT_EQ(set->Insert(dyingWeak.Get()), 0u);
  EXPECT_EQ(set->Insert(nullptr), result::InvalidArgument);
  EXPECT_EQ(Locked().size(), 2u);

  dying.Reset();
  const auto alive = Locked();
  ASSERT_EQ(alive.size(), 1u);
  EXPECT_TRUE(dnt::SameObject(alive[0].Get(), kept.Get()));
  // The dead entry is gone, the live one was inserted once.
  EXPECT_EQ(set->Remove(dyingWeak.Get()), result::NotFound);
  EXPECT_EQ(set->Remove(keptWeak.Get()), 0u);
  EXPECT_EQ(set->Remove(keptWeak.Get()), result::NotFound);
  EXPECT_TRUE(Locked().empty());
  EXPECT_NE(tracer->All().find("  WeakReferenceSet::Insert(): reference = 0x"), std::string::npos);
}

TEST_F(WeakReferenceSetTest, FailingMemberLeavesTheSetUnchanged) {
  auto dead = NewObject();
  const auto deadWeak = WeakOf(dead);
  dead.Reset();
  auto live = host::MakeHostObject<HostWeakReference>(result::NoError);
  auto failing = host::MakeHostObject<HostWeakReference>(result::AccessDenied);
  for (IWeakReference* r : {deadWeak.Get(), static_cast<IWeakReference*>(live.Get()),
                            static_cast<IWeakReference*>(failing.Get())}) {
    ASSERT_EQ(set->Insert(r), 0u);
  }
  std::vector<ComPtr<IObject>> objects(1);  // the caller's list stays as it was
  EXPECT_EQ(set->Lock(&objects), result::AccessDenied);
  EXPECT_EQ(objects.size(), 1u);
  // No strong reference taken during the failed walk is kept, and the dead
  // entry is still there because the walk did not complete.
  EXPECT_EQ(live->AddRef(), 3u);  // ours and the set's, plus this one
  live->Release();
  EXPECT_EQ(set->Remove(deadWeak.Get()), 0u);
  EXPECT_EQ(set->Remove(failing.Get()), 0u);
  EXPECT_EQ(Locked().size(), 1u);
}

TEST_F(WeakReferenceSetTest, HostLockMayWaitForAnInsertOnAnotherThread) {
  dnt::testing::Watchdog watchdog(std::chrono::seconds(60), "weak reference set lock");
  auto other = host::MakeHostObject<HostWeakReference>(result::NoError);
  auto waiting = host::MakeHostObject<HostWeakReference>(result::NoError, [&] {
    std::async(std::launch::async, [&] { EXPECT_EQ(set->Insert(other.Get()), 0u); }).wait();
  });
  ASSERT_EQ(set->Insert(waiting.Get()), 0u);
  EXPECT_EQ(Locked().size(), 1u);
  EXPECT_EQ(Locked().size(), 2u);
}

/// Records every switch call in a shared log; its prepare can fail.
class Member final : public RefCounted<dnt::ISwitchableImplementation> {
 public:
  Member(std::string name, std::vector<std::string>& log, result_t prepareResult = result::NoError)
      : m_name(std::move(name)), m_log(log), m_prepareResult(prepareResult) {}

  result_t PrepareSwitchTo(IObject*, IObject** localStorage) override {
    m_log.push_back(m_name + " prepare");
    *localStorage = nullptr;
    return m_prepareResult;
  }
  result_t CommitSwitch(IObject*) override {
    m_log.push_back(m_name + " commit");
    return result::UnspecifiedError;  // not examined, only traced
  }
  result_t RollbackSwitch(IObject*) override {
    m_log.push_back(m_name + " rollback");
    return result::NoError;
  }

 private:
  std::string m_name;
  std::vector<std::string>& m_log;
  result_t m_prepareResult;
};

std::vector<ComPtr<IObject>> Objects(std::initializer_list<ComPtr<Member>> members) {
  std::vector<ComPtr<IObject>> objects;
  for (const auto& m : members) objects.emplace_back(static_cast<IObject*>(m.Get()));
  return objects;
}

TEST(ImplementationSetSwitchTest, FailingMemberRollsBackThoseBeforeIt) {
  std::vector<std::string> log;
  auto tracer = host::MakeHostObject<host::CapturingTracer>();
  auto a = host::MakeHostObject<Member>("a", log);
  auto b = host::MakeHostObject<Member>("b", log, result::AccessDenied);
  auto c = host::MakeHostObject<Member>("c", log);
  dnt::ImplementationSetSwitch switchSet(tracer.Get(), Objects({a, b, c}), nullptr);
  EXPECT_EQ(switchSet.Prepare(a.Get()), result::AccessDenied);
  EXPECT_EQ(log, (std::vector<std::string>{"a prepare", "b prepare", "a rollback"}));
  EXPECT_TRUE(switchSet.Empty());
}

TEST(ImplementationSetSwitchTest, ObjectToProcessLastGoesLastAndCommitFailuresAreTraced) {
  std::vector<std::string> log;
  auto tracer = host::MakeHostObject<host::CapturingTracer>();
  auto a = host::MakeHostObject<Member>("a", log);
  auto b = host::MakeHostObject<Member>("b", log);
  auto c = host::MakeHostObject<Member>("c", log);
  dnt::ImplementationSetSwitch switchSet(tracer.Get(), Objects({a, b, c}), static_cast<IObject*>(a.Get()));
  ASSERT_EQ(switchSet.Prepare(c.Get()), 0u);
  switchSet.Commit();
  EXPECT_EQ(log, (std::vector<std::string>{"b prepare", "c prepare", "a prepare", "b commit", "c commit", "a commit"}));
  EXPECT_EQ(tracer->Texts(trace_level::Failure).size(), 3u);
  EXPECT_NE(tracer->All().find("ImplementationSetSwitch(): toProcessLast moved to the end"), std::string::npos);
}

TEST(ImplementationSetSwitchTest, EveryObjectMustBeSwitchable) {
  auto tracer = host::MakeHostObject<host::CapturingTracer>();
  auto plain = host::MakeHostObject<host::CapturingTracer>();  // any object without the interface
  std::vector<ComPtr<IObject>> objects{ComPtr<IObject>(static_cast<IObject*>(plain.Get()))};
  EXPECT_THROW(dnt::ImplementationSetSwitch(tracer.Get(), objects, nullptr), CheckResultFailedException);
}

}  // namespace
