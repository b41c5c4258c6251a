#include "do_not_track/dnt_engine/bases_provider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/text/utf.h"
#include "tests/scripts/script_fixture.h"

namespace dnt {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::ScriptFile;
using testing::Stream;

struct Build {
  orv::ComPtr<host::CapturingTracer> tracer = host::MakeHostObject<host::CapturingTracer>();

  orv::ComPtr<Bases> Make(std::vector<uint8_t> script, orv::IIO* bugs) {
    const std::vector<orv::ComPtr<orv::IIO>> scripts = {Stream(std::move(script))};
    return orv::ComPtr<Bases>(new Bases(orv::ComPtr<orv::ITracer>(tracer.Get()), scripts, bugs));
  }
  orv::ComPtr<Bases> Make(const std::string& name) {
    const auto bugs = Stream(bases_writer::Write(testing::EngineDatabase()));
    return Make(ScriptFile({"return '" + name + "'"}), bugs.Get());
  }
};

orv::result_t FailureCode(const std::function<void()>& work, std::string& message) {
  try {
    work();
  } catch (const orv::CheckResultFailedException& e) {
    message = orv::text::ToUtf8(e.GetDescription());
    return orv::GetResultCode(e);
  }
  return orv::result::NoError;
}

TEST(BasesProviderTest, LoadOrderAndFailures) {
  Build build;
  const orv::ComPtr<Bases> good = build.Make("Good");
  EXPECT_NE(good->Scripts().Find("Good"), nullptr);
  EXPECT_EQ(good->Bugs().ServiceCount(), 4u);
  const auto milestones = build.tracer->Texts(orv::trace_level::Milestone);
  ASSERT_GE(milestones.size(), 2u);
  EXPECT_EQ(milestones.front(), "Successfully loaded 1 script file(s)");
  EXPECT_EQ(milestones.back(), "Bases loaded successfully");

  // A script failure means the bug database is never read.
  auto untouched = host::MakeHostObject<host::MemoryIO>(bases_writer::Write(testing::EngineDatabase()));
  std::string message;
  EXPECT_EQ(FailureCode([&] { build.Make(ScriptFile({"error('no', 0)"}), untouched.Get()); }, message),
            orv::result::ExceptionHasNoResultCode);
  EXPECT_THAT(message, HasSubstr("failed to load script bases"));
  EXPECT_EQ(untouched->ReadCalls(), 0u);

  std::vector<uint8_t> bytes = bases_writer::Write(testing::EngineDatabase());
  bytes[0] ^= 0xff;  // bad magic
  const auto broken = Stream(bytes);
  const orv::result_t code = FailureCode([&] { build.Make(ScriptFile({"return 'A'"}), broken.Get()); }, message);
  EXPECT_TRUE(orv::Failed(code));
  EXPECT_THAT(message, HasSubstr("failed to load bug bases"));
}

// A switch leaves a snapshot on the bases it was taken from, however the
// slot changes; setting what the slot holds keeps it alive.
TEST(BasesProviderTest, SnapshotsOutliveTheSlot) {
  Build build;
  orv::ComPtr<BasesSlot> slot(new BasesSlot);
  EXPECT_FALSE(slot->Take());
  slot->Set(build.Make("First").Get());
  const orv::ComPtr<Bases> snapshot = slot->Take();
  slot->Set(build.Make("Second").Get());
  EXPECT_NE(slot->Take()->Scripts().Find("Second"), nullptr);
  EXPECT_NE(snapshot->Scripts().Find("First"), nullptr);

  Bases* current = slot->Take().Get();
  slot->Set(current);
  EXPECT_EQ(slot->Take().Get(), current);
  slot->Set(nullptr);
  EXPECT_FALSE(slot->Take());
}

}  // namespace
}  // namespace dnt
