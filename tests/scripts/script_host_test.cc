#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "do_not_track/dnt_engine/script_host.h"
#include "source/scripting/dnt_engine_api.h"
#include "source/scripting/pool_allocator.h"
#include "source/scripting/script_errors.h"
#include "tests/scripts/script_fixture.h"
#include "tests/support/watchdog.h"

namespace dnt {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using testing::RunEntry;

// Every script counts how often its chunk and its initializer run.
const std::string CountingScript = R"(
  chunkRuns = (chunkRuns or 0) + 1
  return "Counter", function()
    initRuns = (initRuns or 0) + 1
    return function() return chunkRuns, initRuns end
  end)";

std::vector<std::vector<uint8_t>> EntryScripts() {
  return {testing::ScriptFile({
      CountingScript,
      R"(return "Number", function() return 42 end)",
      R"(function GlobalEntry() return "from global" end
         return "ByName", "GlobalEntry")",
      R"(return "Table", {answer = 1})",
      R"(return "Quiet", function() return function() error("x", 0) end end)",
      R"(return "Loud", function() return function()
           error("with position")
         end end)",
      R"(return "BadInit", function() error("init broke", 0) end)",
      R"(return "UsesOther", function()
           local counter = DntEngine.Require("Counter")
           return function() return counter == DntEngine.Require("Counter") end
         end)",
      R"(return "InCoroutine", function() return function()
           local co = coroutine.wrap(function() return DntEngine.Require("Table").answer end)
           return co()
         end end)",
      R"(return "RequireMissing", function() return function() return DntEngine.Require("Nope") end end)",
  })};
}

TEST(ScriptHostTest, EntriesResolveOnceAndComeFromTheCache) {
  testing::Session session(EntryScripts());
  ScriptHost& host = *session.host;
  EXPECT_THAT(RunEntry(host, "Counter"), ElementsAre("1", "1"));
  EXPECT_THAT(RunEntry(host, "Counter"), ElementsAre("1", "1"));
  EXPECT_THAT(RunEntry(host, "ByName"), ElementsAre("from global"));
  EXPECT_THAT(RunEntry(host, "UsesOther"), ElementsAre("true"));
  EXPECT_THAT(RunEntry(host, "InCoroutine"), ElementsAre("1"));
  // A second host over the same bases starts with its own state and cache.
  ScriptHost other(orv::ComPtr<orv::ITracer>(session.tracer.Get()), session.context.get(),
                   session.context->GetSettings(), ScriptStage::Session);
  EXPECT_THAT(RunEntry(other, "Counter"), ElementsAre("1", "1"));
}

TEST(ScriptHostTest, FailuresCarryTheirWholePrefixChain) {
  testing::Session session(EntryScripts());
  ScriptHost& host = *session.host;
  const char* fatal = "error: fatal script error: runtime error: ";
  EXPECT_THAT(RunEntry(host, "Missing"), ElementsAre(std::string(fatal) + "couldn't find the script 'Missing'"));
  EXPECT_THAT(RunEntry(host, "Number"),
              ElementsAre(std::string(fatal) + "got unexpected result from the initializer of the script 'Number'"));
  EXPECT_THAT(RunEntry(host, "Quiet"), ElementsAre(std::string(fatal) + "failed to execute a script: x"));
  // Compiled under its registration name, so the position names the script.
  EXPECT_THAT(RunEntry(host, "Loud"), ElementsAre(std::string(fatal) + "failed to execute a script: Loud:2: with position"));
  EXPECT_THAT(RunEntry(host, "BadInit"), ElementsAre(std::string(fatal) + "failed to call script initializer: init broke"));
  EXPECT_THAT(RunEntry(host, "RequireMissing"),
              ElementsAre(std::string(fatal) + "failed to execute a script: couldn't find the script 'Nope'"));
  // Calling a table entry is an ordinary runtime error of the call.
  EXPECT_THAT(RunEntry(host, "Table")[0], HasSubstr("failed to execute a script: attempt to call a table value"));
  // The host stays usable after every failure, with a clean stack.
  EXPECT_EQ(lua_gettop(host.State()), 0);
  EXPECT_THAT(RunEntry(host, "Counter"), ElementsAre("1", "1"));
}

// Errors raised while a metamethod runs on the host's side of a call (a
// strict _G asked for an initializer's global, a result's __tostring) must
// not leave dead frames behind, however often they happen.
TEST(ScriptHostTest, FailuresInMetamethodsLeaveTheStateClean) {
  testing::Session session({testing::ScriptFile({
      R"(return "Depth", function() return function()
           return select(2, debug.traceback():gsub("\n", ""))
         end end)",
      R"(return "BadText", function() return function()
           return setmetatable({}, {__tostring = function() error("no text", 0) end})
         end end)",
      R"(setmetatable(_G, {__index = function(_, name) error("undefined global " .. name, 0) end})
         return "Strict", "Missing")",
  })});
  ScriptHost& host = *session.host;
  const std::vector<std::string> depth = RunEntry(host, "Depth");
  const std::string fatal = "error: fatal script error: runtime error: ";
  for (int i = 0; i < 500; ++i) {
    ASSERT_THAT(RunEntry(host, "Strict"), ElementsAre(fatal + "undefined global Missing")) << i;
    ASSERT_THAT(RunEntry(host, "BadText"), ElementsAre(fatal + "no text")) << i;
  }
  EXPECT_EQ(RunEntry(host, "Depth"), depth);
  EXPECT_EQ(lua_gettop(host.State()), 0);
}

// A ScriptCall may throw C++ exceptions or raise Lua errors on either side
// of the call; both come out of Call as they did, and the host goes on.
TEST(ScriptHostTest, ScriptCallFailuresComeOutOfCall) {
  class FailingCall final : public ScriptCall {
   public:
    explicit FailingCall(int mode) : m_mode(mode) {}
    void PushArguments(lua_State* L, int& argumentCount, int& resultCount) override {
      argumentCount = 0;
      resultCount = 1;
      if (m_mode == 0) throw std::logic_error("cannot push");
      if (m_mode == 1) luaL_error(L, "bad argument");
    }
    void ReadResults(lua_State* L) override {
      lua_pushstring(L, "partial");
      if (m_mode == 2) throw std::logic_error("cannot read");
      luaL_checktype(L, -2, LUA_TTABLE);
    }

   private:
    int m_mode;
  };
  testing::Session session(EntryScripts());
  ScriptHost& host = *session.host;
  const auto failure = [&](int mode) {
    FailingCall call(mode);
    return testing::Thrown([&] { host.Call("ByName", call); });
  };
  EXPECT_EQ(testing::Thrown<std::logic_error>([&] {
              FailingCall call(0);
              host.Call("ByName", call);
            }),
            "cannot push");
  EXPECT_EQ(failure(1), "fatal script error: runtime error: bad argument");
  EXPECT_EQ(failure(2), "cannot read");
  EXPECT_EQ(failure(3), "fatal script error: runtime error: bad argument #-2 to '?' (table expected, got string)");
  EXPECT_EQ(lua_gettop(host.State()), 0);
  EXPECT_THAT(RunEntry(host, "Counter"), ElementsAre("1", "1"));
}

// No entry outruns its allowance or its memory, whatever it calls: each of
// these fails its call on a count, not a clock, and the next call of the
// same host starts afresh and runs as ever.
TEST(ScriptHostTest, SessionHostBoundsHostileEntries) {
  constexpr const char* TooLong = "the script runs too long";
  constexpr const char* NoMemory = "failed to execute a script: not enough memory";
  // Garbage enough for the collector to finish cycles, and so finalise
  // what the script dropped, before the allowance runs out.
  const std::string Churn = "local keep = {} for i = 1, 1e7 do keep[i % 1000] = {} end";
  struct Case {
    std::string body;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"while true do end", "failed to execute a script: the script runs too long"},
      {"while true do pcall(function() while true do end end) end", TooLong},
      {"debug.sethook() while true do end", TooLong},
      {"xpcall(function() while true do end end, function() while true do end end)", TooLong},
      {"setmetatable({}, {__gc = function() while true do end end})", "base scripts cannot set finalizers (__gc)"},
      // A library object's metatable is out of reach: a "__gc" put there
      // would run with hooks off when a collection step finalises the object.
      {"getmetatable(require('DntParsedUrl').new('http://a.test/')).__gc = function() while true do end end " + Churn,
       "attempt to index a boolean value"},
      {"require('DntParsedUrl').new('http://a.test/').__index.__gc = function() while true do end end " + Churn,
       "attempt to index field '__index' (a nil value)"},
      {"getmetatable(io.tmpfile()).__gc = function() while true do end end " + Churn, "attempt to index a boolean value"},
      {"debug.getmetatable(io.tmpfile()).__gc = function() while true do end end " + Churn,
       "attempt to index a boolean value"},
      {"debug.getregistry()['FILE*'].__gc = function() while true do end end io.tmpfile() " + Churn,
       "base scripts cannot reach the registry"},
      // One search that backtracks for hours, and the same through gsub.
      {"return string.find(('a'):rep(300), '.-.-.-.-b')", TooLong},
      {"return (('a'):rep(300):gsub('.-.-.-.-b', ''))", TooLong},
      {"string.find(string.rep('x', 2^22), string.rep('x', 2^21) .. 'y', 1, true)", TooLong},
      {"string.find(string.rep('b', 2^16), '[' .. string.rep('a', 2^20) .. ']')", TooLong},
      {"local s = string.rep('x', 2^23) for i = 1, 1e4 do local t = s .. 'a' end", TooLong},
      {"local t, s = {}, string.rep('x', 2^20) for i = 1, 24 do t[i] = s end "
       "for i = 1, 1e4 do local r = table.concat(t) end",
       TooLong},
      {"local t = {} for i = 1, 1e6 do t[i] = '' end for i = 1, 1e4 do table.concat(t) end", TooLong},
      {"local t = {} for i = 1, 1e6 do t[i] = i end for i = 1, 1e4 do table.remove(t, 1) table.insert(t, 1, i) end",
       TooLong},
      {"local t = {} for i = 1, 1e5 do t[i] = i end for i = 1, 1e6 do local _ = select('#', table.unpack(t)) end",
       TooLong},
      {"local s = string.rep('x', 2^22) local t = {} for i = 1, 1000 do t[i] = s end table.sort(t)", TooLong},
      {"local s = string.rep('x', 2^19) for i = 1, 1e6 do local _ = select('#', s:byte(1, -1)) end", TooLong},
      {"local a, b = string.rep('x', 2^22), string.rep('x', 2^22) for i = 1, 1e6 do rawequal(a, b) end", TooLong},
      {"local s = string.rep(' ', 2^22) for i = 1, 1e6 do tonumber(s) end", TooLong},
      {"local piece = string.rep(' ', 2^22) load(function() return piece end)", TooLong},
      {"collectgarbage('setpause', 0) collectgarbage('setstepmul', 2^30) collectgarbage('generational') "
       "local t = {} for i = 1, 2e5 do t[i] = {} end while true do local x = {} end",
       TooLong},
      // At its memory cap, every allocation that fails costs a collection.
      {"local keep, n = {}, 0 pcall(function() while true do n = n + 1 keep[n] = {} end end) "
       "while true do pcall(function() local x = {} end) end",
       TooLong},
      {"local url = 'http://a.test/' .. string.rep('x', 2^20) for i = 1, 1e6 do DntEngine.MatchBugRules(url) end",
       TooLong},
      {"local t = {} for i = 1, 1e9 do t[i] = i end", NoMemory},
      // A parsed URL keeps its texts outside the state.
      {"local U, url, t = require('DntParsedUrl'), 'http://a.test/' .. string.rep('x', 2^20), {} "
       "for i = 1, 1e6 do t[i] = U.new(url) end",
       NoMemory},
      // Never 64 MiB live, but each size of block that it fills and drops
      // stays with the state.
      {"for size = 32, 256, 16 do local t = {} "
       "for i = 1, 40 * 2^20 / (size + 16) do t[i] = string.format('%07d', i) .. ('x'):rep(size - 32) end end",
       NoMemory},
  };
  std::vector<std::string> scripts;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    scripts.push_back("return 'E" + std::to_string(i) + "', function() return function() " + cases[i].body + " end end");
  }
  scripts.push_back("return 'Fine', function() return function() return ('fine'):rep(2, ' ') end end");
  // Closing the state runs the finalizers left, a replaced one's included.
  testing::Watchdog closing(std::chrono::minutes(15), "SessionHostBoundsHostileEntries");
  testing::Session session({bases_writer::WriteScriptFile(scripts)});
  ScriptHost& host = *session.host;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    testing::Watchdog watchdog(std::chrono::seconds(60), cases[i].body);
    EXPECT_THAT(RunEntry(host, "E" + std::to_string(i))[0], HasSubstr(cases[i].expected)) << cases[i].body;
    EXPECT_THAT(RunEntry(host, "Fine"), ElementsAre("fine fine")) << cases[i].body;
  }
}

TEST(ScriptHostTest, PanicAndFailureTexts) {
  lua_State* L = luaL_newstate();
  ASSERT_NE(L, nullptr);
  lua_pushstring(L, "detail");
  EXPECT_EQ(testing::Thrown([&] { ScriptPanicHandler(L); }), "fatal script error: enigmatic mystery: detail");
  EXPECT_EQ(DescribeScriptFailure(L, "failed to load a script: ", LUA_ERRMEM),
            "failed to load a script: memory allocation error");
  EXPECT_EQ(DescribeScriptFailure(L, "p: ", LUA_ERRGCMM), "p: runtime error: detail");
  lua_newtable(L);
  EXPECT_EQ(DescribeScriptFailure(L, "p: ", LUA_ERRRUN), "p: runtime error");
  lua_close(L);
}

TEST(ScriptHostTest, UnknownEngineFieldsAndConstants) {
  ServiceSettings settings = ServiceSettings::Defaults();
  settings.enableVerboseTrace = true;
  settings.excludeIncompatibleSites = false;
  testing::Session session({testing::ScriptFile({R"(return "Fields", function() return function()
        return DntEngine.VERDICT_BLOCKED, DntEngine.VERSION_INTERNAL, DntEngine.CATEGORY_WEB_BUG,
               DntEngine.IS_VERBOSE_TRACE_ENABLED, DntEngine.SHOULD_EXCLUDE_PARTNER_SITES,
               DntEngine.SHOULD_EXCLUDE_INCOMPATIBLE_SITES
      end end)",
                                                R"(return "Foo", function() return function() return DntEngine.Foo end end)",
                                                R"(return "Colon", function() return function()
        return DntEngine:GetServiceInfo(0) end end)"})},
                           testing::EngineDatabase(), settings);
  EXPECT_THAT(RunEntry(*session.host, "Fields"), ElementsAre("2", "2", "4", "true", "true", "false"));
  EXPECT_THAT(RunEntry(*session.host, "Foo")[0], EndsWith("tried to access non-existent script engine method/field Foo"));
  EXPECT_THAT(RunEntry(*session.host, "Colon")[0], HasSubstr("calling 'GetServiceInfo' on bad self (number expected, got userdata)"));
}

TEST(ScriptHostTest, DiscoveryHostForbidsEngineCallsButLogs) {
  auto tracer = host::MakeHostObject<host::CapturingTracer>();
  ScriptHost host(orv::ComPtr<orv::ITracer>(tracer.Get()), nullptr, ServiceSettings::Defaults(),
                  ScriptStage::Discovery);
  EXPECT_EQ(testing::Thrown([&] {
              ToStringCall call;
              host.Call("Anything", call);
            }),
            "fatal script error: runtime error: engine calls are forbidden at the script discovery stage");
  const std::string script = R"(DntEngine.Log("a", 1, true, nil, {}, false, 2.5)
                                return DntEngine.MatchBugRules("x"))";
  EXPECT_EQ(testing::Thrown([&] { host.LoadChunk(script.data(), script.size(), "=script", nullptr); }),
            "fatal script error: runtime error: failed to call loaded script: "
            "engine calls are forbidden at the script discovery stage");
  EXPECT_THAT(tracer->Texts(orv::trace_level::Routine),
              ElementsAre("[SCRIPT]: a1<true><nil><table><false>2.5"));
  tracer->SetThreshold(700);
  const std::string quiet = "DntEngine.Log('x') return 1, 2";
  host.LoadChunk(quiet.data(), quiet.size(), "=script", nullptr);
  EXPECT_EQ(tracer->Texts(orv::trace_level::Routine).size(), 1u);
}

TEST(ScriptHostTest, DiscoveryHostBoundsTimeAndMemory) {
  ScriptHost host(orv::ComPtr<orv::ITracer>(), nullptr, ServiceSettings::Defaults(), ScriptStage::Discovery);
  const std::string endless = "while true do end";
  EXPECT_THAT(testing::Thrown([&] { host.LoadChunk(endless.data(), endless.size(), "=script", nullptr); }),
              HasSubstr("failed to call loaded script: the script runs too long at the script discovery stage"));
  host.RestartInstructionBudget();
  // Small blocks only: growing one large block would run out of time first.
  const std::string hungry = "local x, head = string.rep('x', 64) for i = 1, 1e9 do head = {head, x .. i} end";
  EXPECT_EQ(testing::Thrown([&] { host.LoadChunk(hungry.data(), hungry.size(), "=script", nullptr); }),
            "fatal script error: runtime error: failed to call loaded script: not enough memory");
  // Still usable afterwards, with the budget restarted.
  host.RestartInstructionBudget();
  lua_settop(host.State(), 0);
  const std::string fine = "return 'ok', 1";
  host.LoadChunk(fine.data(), fine.size(), "=script", nullptr);
  EXPECT_STREQ(lua_tostring(host.State(), -2), "ok");
}

void* Call(PoolLuaAllocator& pool, void* p, std::size_t oldSize, std::size_t newSize) {
  return PoolLuaAllocator::Allocate(&pool, p, oldSize, newSize);
}

// The limit counts what the pool holds: whole slabs, and runs longer than a
// slab, which go back when freed and shrink in place until then.
TEST(PoolAllocatorTest, HoldsNoMoreThanItsLimit) {
  constexpr std::size_t Slab = 16 * 1024;
  PoolLuaAllocator pool(2 * Slab);
  void* a = Call(pool, nullptr, 0, 48);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(pool.HeldBytes(), Slab);
  void* b = Call(pool, nullptr, 0, Slab - 32);  // more than the first slab has left
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Call(pool, nullptr, 0, Slab - 32), nullptr);
  EXPECT_EQ(Call(pool, a, 48, Slab + 16), nullptr);  // a failed grow keeps the block
  EXPECT_EQ(pool.LiveChunks(), 3u + 1022u);
  Call(pool, b, Slab - 32, 0);  // waits for reuse, still held
  EXPECT_EQ(pool.HeldBytes(), 2 * Slab);
  EXPECT_EQ(Call(pool, nullptr, 0, static_cast<std::size_t>(-1)), nullptr);
  Call(pool, a, 48, 0);

  PoolLuaAllocator big(1 << 20);
  auto* large = static_cast<char*>(Call(big, nullptr, 0, 100000));
  ASSERT_NE(large, nullptr);
  std::memset(large, 1, 100000);
  EXPECT_EQ(Call(big, large, 100000, 40), large);
  EXPECT_EQ(big.LiveChunks(), 3u);
  EXPECT_EQ(big.HeldBytes(), 100000u);
  EXPECT_EQ(Call(big, large, 40, 0), nullptr);
  EXPECT_EQ(big.HeldBytes(), 0u);
}

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
