#include "source/scripting/dnt_engine_api.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/scripts/script_fixture.h"

namespace dnt {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using testing::RunEntry;

// One script per query; each entry returns what the query gives, flattened.
std::vector<std::vector<uint8_t>> QueryScripts() {
  return {testing::ScriptFile({
      R"(local function list(t) local s = {} for i, v in ipairs(t) do s[#s + 1] = v end return table.concat(s, ",") end
         return "Rules", function() return function()
           return list(DntEngine.MatchBugRules("http://pixel.test/track?x")),
                  #DntEngine.MatchBugRules("http://nothing.test/")
         end end)",
      R"(return "RuleSet", function() return function()
           local t = DntEngine.MatchBugRules("http://set.test/a", true)
           local keys = 0
           for k, v in pairs(t) do keys = keys + 1 end
           return t[0], t[5], keys, #t
         end end)",
      R"(return "Exceptions", function() return function()
           local t, partner, incompatible = DntEngine.MatchBugExceptions("http://mixed.test/")
           local u, p2, i2 = DntEngine.MatchBugExceptions("http://partner.test/", true)
           local n, p3, i3 = DntEngine.MatchBugExceptions("http://none.test/")
           return t[1], t[2], partner, incompatible, u[2], p2, i2, #n, next(n), p3, i3
         end end)",
      R"(return "BugService", function() return function(...)
           return DntEngine.GetBugService(-1)
         end end)",
      R"(return "ServiceInfo", function() return function()
           return DntEngine.GetServiceInfo(3.9)
         end end)",
      R"(return "Blocking", function() return function()
           return DntEngine.IsServiceBlockingEnabled(0), DntEngine.IsServiceBlockingEnabled(3),
                  DntEngine.IsServiceBlockingEnabled(1)
         end end)",
      R"(return "NaNBug", function() return function() return DntEngine.GetBugService(0/0) end end)",
      R"(return "HugeBug", function() return function() return DntEngine.GetBugService(2^32) end end)",
      R"(return "LastBug", function() return function() return DntEngine.GetBugService(6) end end)",
      R"(return "BadService", function() return function() return DntEngine.GetServiceInfo(4) end end)",
      R"(return "BadBlocking", function() return function() return DntEngine.IsServiceBlockingEnabled(2^40) end end)",
      R"(return "BadText", function() return function() return DntEngine.MatchBugRules({}) end end)",
  })};
}

TEST(DntEngineApiTest, QueriesAsScriptsSeeThem) {
  ServiceSettings settings = ServiceSettings::Defaults();
  settings.blockTrackingServiceCategories = {4, 1};
  settings.trackingServicesSettings = {{10, 0}};  // service 10 (category 4) listed off
  testing::Session session(QueryScripts(), testing::EngineDatabase(), settings);
  ScriptHost& host = *session.host;
  // Two masks give bug 0 and it appears once.
  EXPECT_THAT(RunEntry(host, "Rules"), ElementsAre("0", "0"));
  EXPECT_THAT(RunEntry(host, "RuleSet"), ElementsAre("true", "true", "2", "0"));
  EXPECT_THAT(RunEntry(host, "Exceptions"),
              ElementsAre("2", "3", "true", "true", "true", "true", "false", "0", "nil", "false", "false"));
  EXPECT_THAT(RunEntry(host, "BugService"), ElementsAre("0", "10"));
  EXPECT_THAT(RunEntry(host, "ServiceInfo"), ElementsAre("40", "1", "Friends"));
  EXPECT_THAT(RunEntry(host, "Blocking"), ElementsAre("false", "true", "false"));
}

TEST(DntEngineApiTest, ComponentErrorsBecomeScriptErrors) {
  testing::Session session(QueryScripts());
  ScriptHost& host = *session.host;
  EXPECT_THAT(RunEntry(host, "NaNBug"), ElementsAre("0", "10"));
  EXPECT_THAT(RunEntry(host, "HugeBug")[0], EndsWith("underlying component error: the bug index is out of range"));
  EXPECT_THAT(RunEntry(host, "LastBug")[0], EndsWith("underlying component error: the bug index is out of range"));
  EXPECT_THAT(RunEntry(host, "BadService")[0],
              EndsWith("underlying component error: FlatObjectListBlock: the index is out of range"));
  EXPECT_THAT(RunEntry(host, "BadBlocking")[0],
              EndsWith("underlying component error: FlatObjectListBlock: the index is out of range"));
  EXPECT_THAT(RunEntry(host, "BadText")[0], ::testing::HasSubstr("bad argument #1 to 'MatchBugRules' (string expected"));
  // Many errors thrown through Lua frames while C++ objects are alive: the
  // sanitizer build checks that nothing leaks.
  for (int i = 0; i < 200; ++i) RunEntry(host, "LastBug");
  EXPECT_EQ(lua_gettop(host.State()), 0);
}

// A session processor whose lookups fail: the failure reaches the script as
// the method's error, and Call as itself, instead of vanishing inside Lua.
class FailingContext final : public IScriptEngineContext {
 public:
  explicit FailingContext(const IScriptEngineContext& inner) : m_inner(inner) {}
  const Bases& GetBases() const override { return Check(m_inner.GetBases()); }
  const ServiceSettings& GetSettings() const override { return Check(m_inner.GetSettings()); }
  bool failing = false;

 private:
  template <class T>
  const T& Check(const T& value) const {
    if (failing) throw std::runtime_error("context gone");
    return value;
  }
  const IScriptEngineContext& m_inner;
};

TEST(DntEngineApiTest, ContextFailuresBecomeScriptErrors) {
  testing::Session session({testing::ScriptFile({
      R"(local function try(f, ...) return select(2, pcall(f, ...)) end
         return "Probe", function() return function()
           return try(DntEngine.MatchBugRules, "x"), try(DntEngine.MatchBugExceptions, "x"),
                  try(DntEngine.GetBugService, 0), try(DntEngine.GetServiceInfo, 0),
                  try(DntEngine.IsServiceBlockingEnabled, 0)
         end end)",
      R"(return "Other", function() return function() end end)",
  })});
  FailingContext context(*session.context);
  ScriptHost host(orv::ComPtr<orv::ITracer>(session.tracer.Get()), &context, context.GetSettings(),
                  ScriptStage::Session);
  using ::testing::StartsWith;
  ASSERT_THAT(RunEntry(host, "Probe"), ElementsAre(StartsWith("table"), StartsWith("table"), "0", "10", "false"));
  context.failing = true;
  const std::string matching = "underlying component error in DntMatchBugRulesImpl(): context gone";
  const std::string query = "underlying component error: context gone";
  EXPECT_THAT(RunEntry(host, "Probe"), ElementsAre(matching, matching, query, query, query));
  EXPECT_EQ(testing::Thrown([&] {
              ToStringCall call;
              host.Call("Other", call);
            }),
            "context gone");
}

}  // namespace
}  // namespace dnt
