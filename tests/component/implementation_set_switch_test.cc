#include "source/component/implementation_set_switch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/capturing_tracer.h"
#include "host/host_object.h"
#include "orv/rtl/error_handling/exceptions.h"

namespace {

using namespace orv;

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
