#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "do_not_track/dnt_engine/script_bases.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/text/utf.h"
#include "tests/scripts/script_fixture.h"
#include "tests/support/watchdog.h"

namespace dnt {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using testing::ScriptFile;
using testing::Stream;

struct Loader {
  orv::ComPtr<host::CapturingTracer> tracer = host::MakeHostObject<host::CapturingTracer>();
  ScriptBases bases{orv::ComPtr<orv::ITracer>(tracer.Get())};

  orv::result_t Load(std::vector<std::vector<uint8_t>> files) {
    std::vector<orv::ComPtr<orv::IIO>> streams;
    for (auto& file : files) streams.push_back(Stream(std::move(file)));
    return bases.Load(streams);
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& [name, chunk] : bases.Scripts()) names.push_back(name);
    return names;
  }
  std::string Failure() const {
    const auto lines = tracer->Texts(orv::trace_level::Failure);
    return lines.empty() ? "" : lines.back();
  }
};

TEST(ScriptBasesTest, RegistrationOutcomes) {
  testing::Watchdog watchdog(std::chrono::seconds(60), "RegistrationOutcomes");
  Loader loader;
  ASSERT_EQ(loader.Load({ScriptFile({
                R"(return function() return "X" end, nil)",
                R"(return "X", nil)",  // second registration of X
                R"(return function() return nil end, nil)",
                R"(return false, nil)",
                R"(return function() return {} end, nil)",
                R"(return true, nil)",
                R"(return "Direct", function() end)",
                R"(return 7, nil)",
                R"(DntEngine.Log("discovering ", DntEngine.VERDICT_DETECTED) return "Logged")",
                // The discovery stage's own string functions work as the library's.
                R"(local words = {} for w in ("Str ing"):gmatch("%a+") do words[#words + 1] = w end
                   return table.concat(words):gsub("i", "I"):rep(2, "-") .. ("ab"):match("b") .. ("xy"):find("y"))",
                // Long strings come and go quickly.
                R"(local s = ("x"):rep(20000) for i = 1, 1000 do s = s .. "0123456789abcdef" end return "Grown")",
            }),
                         {}}),  // an empty file registers nothing
            orv::result::NoError)
      << loader.Failure();
  EXPECT_THAT(loader.Names(), ElementsAre("7", "Direct", "Grown", "Logged", "StrIng-StrIngb2", "X"));
  EXPECT_THAT(loader.tracer->Texts(orv::trace_level::Irregularity),
              ElementsAre("Script double registration skipped", "Unexpected script registration value; skipped",
                          "Unexpected script registration value; skipped"));
  EXPECT_THAT(loader.tracer->Texts(orv::trace_level::Routine),
              ElementsAre("[SCRIPT]: discovering 1", "[SCRIPT]: discovering 1"));
  EXPECT_THAT(loader.tracer->Texts(orv::trace_level::Milestone), ElementsAre("Successfully loaded 2 script file(s)"));
  // The first registration of X stays: its chunk is the registrator-function one.
  const std::string* x = loader.bases.Find("X");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ((*x)[0], '\x1b');
  EXPECT_EQ(loader.bases.Find("Missing"), nullptr);
}

TEST(ScriptBasesTest, BrokenFilesFailTheWholeLoad) {
  struct Case {
    std::vector<uint8_t> file;
    std::string expected;
  };
  std::vector<uint8_t> truncated;
  testing::AppendScriptRecord(truncated, "return 'A'");
  truncated.pop_back();
  std::vector<uint8_t> huge = {0xff, 0xff, 0xff, 0xff, 1, 0, 0, 0, 'x'};
  std::vector<uint8_t> discontinuous;
  testing::AppendScriptRecord(discontinuous, "return 'A'", 0);
  std::vector<uint8_t> empty;
  testing::AppendScriptRecord(empty, "");
  const std::vector<Case> cases = {
      {{1, 0, 0, 0, 1}, "db is broken"},
      {truncated, "db is broken"},
      {huge, "db is broken"},
      {discontinuous, "discontinuous db format is not supported"},
      {empty, "attempted to load empty script unexpectedely"},
      {ScriptFile({"return ("}), "failed to load a script: syntax error: script:1:"},
      {ScriptFile({"error('chunk', 0)"}), "fatal script error: runtime error: failed to call loaded script: chunk"},
      {ScriptFile({"return function() error('reg', 0) end"}),
       "fatal script error: runtime error: failed to call script registrator: reg"},
      {ScriptFile({"return function() return DntEngine.GetServiceInfo(0) end"}),
       "engine calls are forbidden at the script discovery stage"},
      {ScriptFile({"return 'Q', DntEngine.IsServiceBlockingEnabled(1)"}),
       "engine calls are forbidden at the script discovery stage"},
  };
  for (const Case& c : cases) {
    Loader loader;
    EXPECT_TRUE(orv::Failed(loader.Load({c.file}))) << c.expected;
    EXPECT_THAT(loader.Failure(), StartsWith("Failed to read script file 1/1:  ")) << c.expected;
    EXPECT_THAT(loader.Failure(), HasSubstr(c.expected));
    EXPECT_THAT(loader.Names(), IsEmpty());
  }
}

// Script files are untrusted until they have registered: none of these
// lifts the bound on the work one of them may do, escapes it inside one long
// call of a library function or the VM's own bulk work, or runs code where
// the count hook does not (finalizers, message handlers). Each fails on a
// count, not a clock; the loader then loads ordinary scripts.
TEST(ScriptBasesTest, DiscoveryBoundsHostileScripts) {
  constexpr const char* TooLong = "the script runs too long at the script discovery stage";
  // Garbage enough for the collector to finish cycles, and so finalise
  // what the script dropped, before the allowance runs out.
  const std::string Churn = "local keep = {} for i = 1, 1e7 do keep[i % 1000] = {} end";
  struct Case {
    std::string script;
    std::string expected = TooLong;
  };
  const std::vector<Case> cases = {
      {"debug.sethook() while true do end"},
      {"while true do pcall(function() while true do end end) end"},
      {"debug.getregistry().DntEngine = nil while true do end", "base scripts cannot reach the registry"},
      // The metatables of library objects are out of reach: a "__gc" put
      // there would run with hooks off when a collection step finalises the
      // object.
      {"getmetatable(io.tmpfile()).__gc = function() while true do end end " + Churn, "attempt to index a boolean value"},
      {"debug.getmetatable(require('DntParsedUrl').new('http://a.test/')).__gc = function() while true do end end " +
           Churn,
       "attempt to index a boolean value"},
      {"getmetatable(debug.getregistry()._CLIBS).__gc = function() while true do end end",
       "base scripts cannot reach the registry"},
      // A fresh copy of the debug library would bring the real sethook.
      {R"(local open = package.loadlib("liblua5.2-c++.so.0", "luaopen_debug")
          if open then open().sethook() end
          while true do end)"},
      {"xpcall(function() while true do end end, function() while true do end end)"},
      {"xpcall(function() string.rep('x', 2^30) end, function() while true do end end)"},
      {"setmetatable({}, {__gc = function() while true do end end}) collectgarbage()",
       "base scripts cannot set finalizers (__gc)"},
      {"debug.setmetatable(io.stdout, {})", "base scripts cannot change the metatable of a library object"},
      {"string.find(string.rep('a', 300), '.-.-.-.-b') return 'X'"},
      {"local s = ('a'):rep(300):gsub('.-.-.-.-b', '') return 'X'"},
      {"for i = 1, 100 do string.rep('', 2^31 - 1) end return 'X'"},
      {"string.find(string.rep('x', 2^22), string.rep('x', 2^21) .. 'y', 1, true)"},
      {"local s = string.rep('x', 2^25) for i = 1, 400 do local t = s .. 'a' end"},
      {"local t = {} for i = 1, 4e6 do t[i] = i end for i = 1, 300 do table.insert(t, 1, i) end"},
      {"local s = string.rep('x', 2^24) local t = {} for i = 1, 1000 do t[i] = s end table.sort(t)"},
      {"local s = '--' .. string.rep('x', 2^22) for i = 1, 1e6 do load(s) end"},
      {"local t = {} for i = 1, 2e5 do t[i] = {} end while true do collectgarbage() end"},
  };
  Loader loader;
  for (const Case& c : cases) {
    // Each script alone runs to the bound; a build without optimisation takes
    // many seconds for it.
    testing::Watchdog watchdog(std::chrono::seconds(60), c.script);
    EXPECT_TRUE(orv::Failed(loader.Load({ScriptFile({c.script})}))) << c.script;
    EXPECT_THAT(loader.Failure(), HasSubstr(c.expected)) << c.script;
  }
  ASSERT_EQ(loader.Load({ScriptFile({"return 'Ordinary'", "return ('x'):rep(3) .. #table.concat({'a', 'b'})"})}),
            orv::result::NoError);
  EXPECT_THAT(loader.Names(), ElementsAre("Ordinary", "xxx2"));
}

TEST(ScriptBasesTest, FailedLoadKeepsThePreviousMap) {
  Loader loader;
  ASSERT_EQ(loader.Load({ScriptFile({"return 'Old'"})}), orv::result::NoError);
  const orv::result_t failed =
      loader.Load({ScriptFile({"return 'A'"}), ScriptFile({"return 'B'", "error('second', 0)"}), ScriptFile({"return 'C'"})});
  EXPECT_TRUE(orv::Failed(failed));
  EXPECT_THAT(loader.Failure(), StartsWith("Failed to read script file 2/3: "));
  EXPECT_THAT(loader.Names(), ElementsAre("Old"));

  ASSERT_EQ(loader.Load({ScriptFile({"return 'A'"}), ScriptFile({"return 'B'"}), ScriptFile({"return 'C'"})}),
            orv::result::NoError);
  EXPECT_THAT(loader.Names(), ElementsAre("A", "B", "C"));
  EXPECT_EQ(loader.tracer->Texts(orv::trace_level::Milestone).back(), "Successfully loaded 3 script file(s)");
}

TEST(ScriptBasesTest, StreamFailuresCarryTheirCode) {
  Loader loader;
  auto failing = host::MakeHostObject<host::MemoryIO>(ScriptFile({"return 'A'"}));
  failing->FailReadsFrom(0, orv::result::MediaError);
  auto shortReads = host::MakeHostObject<host::MemoryIO>(ScriptFile({"return 'S'", "return 'T'"}));
  shortReads->LimitReadSize(3);
  const std::vector<orv::ComPtr<orv::IIO>> good = {orv::ComPtr<orv::IIO>(shortReads.Get())};
  EXPECT_EQ(loader.bases.Load(good), orv::result::NoError);
  EXPECT_THAT(loader.Names(), ElementsAre("S", "T"));
  const std::vector<orv::ComPtr<orv::IIO>> bad = {orv::ComPtr<orv::IIO>(failing.Get())};
  EXPECT_EQ(loader.bases.Load(bad), orv::result::MediaError);
  EXPECT_THAT(loader.Names(), ElementsAre("S", "T"));
}

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
