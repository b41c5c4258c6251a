// Per-session and per-call costs of the script engine: a session host made
// and one entry resolved from bytecode, one DntEngine.MatchBugRules call
// made from Lua, and plain VM instructions.
#include <benchmark/benchmark.h>

#include <lua.hpp>

#include <string>
#include <vector>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "do_not_track/dnt_engine/script_host.h"
#include "host/capturing_tracer.h"
#include "host/memory_io.h"
#include "tools/bases_writer/bases_writer.h"

namespace {

constexpr int CallsPerRun = 1000;

std::vector<uint8_t> ScriptFile(const std::vector<std::string>& scripts) { return dnt::bases_writer::WriteScriptFile(scripts); }

// A script of realistic size: a few helper functions around the entry.
std::string EntryScript() {
  std::string script = "local M = {}\n";
  for (int i = 0; i < 40; ++i) {
    script += "function M.helper" + std::to_string(i) +
              "(url) local host = url:match('^%a+://([^/]+)') or '' "
              "if #host > " + std::to_string(i) + " then return host:lower() end return nil end\n";
  }
  script += R"(
    return "RequestProcessor", function()
      return function(url) return M.helper1(url) ~= nil end
    end)";
  return script;
}

dnt::bases_writer::Database BenchDatabase() {
  dnt::bases_writer::Database db;
  for (uint32_t s = 1; s <= 500; ++s) db.services.push_back({s, 1 + s % 4, "service " + std::to_string(s)});
  for (uint32_t b = 1; b <= 5000; ++b) {
    db.bugs.push_back({b, 1 + (b - 1) % 500});
    db.rules.push_back({"tracker" + std::to_string(b) + ".test/pixel*", b});
    db.rules.push_back({"*.cdn" + std::to_string(b) + ".test/*/beacon", b});
  }
  return db;
}

struct Fixture {
  orv::ComPtr<orv::ITracer> tracer{host::MakeHostObject<host::CapturingTracer>(orv::trace_level::Failure)};
  orv::ComPtr<dnt::Bases> bases;
  dnt::ServiceSettings settings;

  Fixture() {
    const std::vector<orv::ComPtr<orv::IIO>> scripts = {orv::ComPtr<orv::IIO>(host::MakeHostObject<host::MemoryIO>(
        ScriptFile({EntryScript(), R"(return "Matcher", function()
             return function(n, url)
               local match = DntEngine.MatchBugRules
               local found
               for i = 1, n do found = match(url) end
               return #found
             end
           end)",
                    R"(return "Loop", function()
             return function(n)
               local a, b = 0, 1
               for i = 1, n do a, b = b, (a + b) % 1000003 end
               return a
             end
           end)"})))};
    const auto bugs = host::MakeHostObject<host::MemoryIO>(dnt::bases_writer::Write(BenchDatabase()));
    bases = orv::ComPtr<dnt::Bases>(new dnt::Bases(tracer, scripts, bugs.Get()));
    settings = dnt::ServiceSettings::Defaults();
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

class UrlCall final : public dnt::ScriptCall {
 public:
  UrlCall(int repeat, const char* url) : m_repeat(repeat), m_url(url) {}
  void PushArguments(lua_State* L, int& argumentCount, int& resultCount) override {
    if (m_repeat > 0) lua_pushnumber(L, m_repeat);
    lua_pushstring(L, m_url);
    argumentCount = m_repeat > 0 ? 2 : 1;
    resultCount = 1;
  }
  void ReadResults(lua_State* L) override { result = lua_tonumber(L, -1); }
  double result = 0;

 private:
  int m_repeat;
  const char* m_url;
};

void BM_SessionHostAndFirstEntry(benchmark::State& state) {
  Fixture& f = Shared();
  dnt::BasesEngineContext context(f.bases, f.settings);
  for (auto _ : state) {
    dnt::ScriptHost host(f.tracer, &context, context.GetSettings(), dnt::ScriptStage::Session);
    UrlCall call(0, "http://www.example.test/index.html");
    host.Call("RequestProcessor", call);
    benchmark::DoNotOptimize(call.result);
  }
  // What one such session holds: from the C heap (what its memory limit
  // counts) and live by Lua's own count.
  dnt::ScriptHost host(f.tracer, &context, context.GetSettings(), dnt::ScriptStage::Session);
  UrlCall call(0, "http://www.example.test/index.html");
  host.Call("RequestProcessor", call);
  state.counters["held_bytes"] = static_cast<double>(host.HeldBytes());
  state.counters["lua_bytes"] = lua_gc(host.State(), LUA_GCCOUNT, 0) * 1024.0 + lua_gc(host.State(), LUA_GCCOUNTB, 0);
}
BENCHMARK(BM_SessionHostAndFirstEntry)->Unit(benchmark::kMicrosecond);

void BM_SessionHostOnly(benchmark::State& state) {
  Fixture& f = Shared();
  dnt::BasesEngineContext context(f.bases, f.settings);
  for (auto _ : state) {
    dnt::ScriptHost host(f.tracer, &context, context.GetSettings(), dnt::ScriptStage::Session);
    benchmark::DoNotOptimize(host.State());
  }
}
BENCHMARK(BM_SessionHostOnly)->Unit(benchmark::kMicrosecond);

void BM_CachedEntryCall(benchmark::State& state) {
  Fixture& f = Shared();
  dnt::BasesEngineContext context(f.bases, f.settings);
  dnt::ScriptHost host(f.tracer, &context, context.GetSettings(), dnt::ScriptStage::Session);
  for (auto _ : state) {
    UrlCall call(0, "http://www.example.test/index.html");
    host.Call("RequestProcessor", call);
    benchmark::DoNotOptimize(call.result);
  }
}
BENCHMARK(BM_CachedEntryCall)->Unit(benchmark::kNanosecond);

// One run calls MatchBugRules CallsPerRun times from a Lua loop; the
// reported time per item is the cost of one call made from Lua.
void BM_MatchBugRulesFromLua(benchmark::State& state, const char* url) {
  Fixture& f = Shared();
  dnt::BasesEngineContext context(f.bases, f.settings);
  dnt::ScriptHost host(f.tracer, &context, context.GetSettings(), dnt::ScriptStage::Session);
  for (auto _ : state) {
    UrlCall call(CallsPerRun, url);
    host.Call("Matcher", call);
    benchmark::DoNotOptimize(call.result);
  }
  state.SetItemsProcessed(state.iterations() * CallsPerRun);
}
// A loop of plain VM instructions: the worst case for the per-instruction
// cost of the session budget's count hook. Time per item is one iteration.
void BM_ScriptLoop(benchmark::State& state) {
  constexpr int Iterations = 100000;
  Fixture& f = Shared();
  dnt::BasesEngineContext context(f.bases, f.settings);
  dnt::ScriptHost host(f.tracer, &context, context.GetSettings(), dnt::ScriptStage::Session);
  for (auto _ : state) {
    UrlCall call(Iterations, "");
    host.Call("Loop", call);
    benchmark::DoNotOptimize(call.result);
  }
  state.SetItemsProcessed(state.iterations() * Iterations);
}
BENCHMARK(BM_ScriptLoop)->Unit(benchmark::kMicrosecond);

BENCHMARK_CAPTURE(BM_MatchBugRulesFromLua, hit, "http://tracker4321.test/pixel.gif?id=7")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_MatchBugRulesFromLua, miss, "http://www.example.test/index.html?q=1")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
