// Script base files, bug databases and hosts for the scripting tests.
#pragma once

#include <lua.hpp>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "do_not_track/dnt_engine/script_host.h"
#include "do_not_track/dnt_engine/service_settings_validation.h"
#include "host/capturing_tracer.h"
#include "host/memory_io.h"
#include "tests/support/thrown.h"
#include "tools/bases_writer/bases_writer.h"

namespace dnt::testing {

/// One record of a script base file.
using bases_writer::AppendScriptRecord;

inline std::vector<uint8_t> ScriptFile(std::initializer_list<std::string> scripts) {
  return bases_writer::WriteScriptFile(std::span<const std::string>(scripts.begin(), scripts.size()));
}

inline orv::ComPtr<orv::IIO> Stream(std::vector<uint8_t> bytes) {
  return orv::ComPtr<orv::IIO>(host::MakeHostObject<host::MemoryIO>(std::move(bytes)));
}

/// Services 10 (web bug), 20 (partner), 30 (incompatible), 40 (social);
/// bugs 100..105 (indexes 0..5): 0, 1, 5 of service 10, 2 of 20, 3 of 30,
/// 4 of 40. Two rule masks name bug 0; "a.test" and "b.test" have rules for
/// bugs 0 and 5; exceptions name bugs 2 and 3.
inline bases_writer::Database EngineDatabase() {
  bases_writer::Database db;
  db.services = {{10, 4, "Pixel Co"}, {20, 6, "Partner Inc"}, {30, 7, "Broken Ltd"}, {40, 1, "Friends"}};
  db.bugs = {{100, 10}, {101, 10}, {102, 20}, {103, 30}, {104, 40}, {105, 10}};
  db.rules = {{"pixel.test/track", 100}, {"pixel.test/tr*", 100}, {"set.test/a", 100}, {"set.test/*", 105}};
  db.exceptions = {{"partner.test", 102, std::nullopt}, {"mixed.test", 103, std::vector<uint32_t>{102}}};
  return db;
}

/// Loaded bases and a session host over them.
struct Session {
  orv::ComPtr<host::CapturingTracer> tracer = host::MakeHostObject<host::CapturingTracer>();
  orv::ComPtr<Bases> bases;
  std::unique_ptr<BasesEngineContext> context;
  std::unique_ptr<ScriptHost> host;

  explicit Session(std::vector<std::vector<uint8_t>> scriptFiles,
                   const bases_writer::Database& database = EngineDatabase(),
                   ServiceSettings settings = ServiceSettings::Defaults()) {
    std::vector<orv::ComPtr<orv::IIO>> streams;
    for (auto& file : scriptFiles) streams.push_back(Stream(std::move(file)));
    const auto bugStream = Stream(bases_writer::Write(database));
    const orv::ComPtr<orv::ITracer> baseTracer(tracer.Get());
    bases = orv::ComPtr<Bases>(new Bases(baseTracer, streams, bugStream.Get()));
    context = std::make_unique<BasesEngineContext>(bases, CopyValidatedServiceSettings(settings));
    host = std::make_unique<ScriptHost>(baseTracer, context.get(), context->GetSettings(), ScriptStage::Session);
  }
};

/// Runs `code` on `L` with the arguments that `pushArguments(L)` pushes and
/// counts; its first result as tostring gives it, or "error: " and the
/// message.
template <class Push>
std::string RunChunk(lua_State* L, const std::string& code, Push&& pushArguments) {
  const int top = lua_gettop(L);
  bool ok = luaL_loadbuffer(L, code.data(), code.size(), "=test") == LUA_OK;
  if (ok) ok = lua_pcall(L, pushArguments(L), 1, 0) == LUA_OK;
  std::size_t length = 0;
  const char* text = luaL_tolstring(L, -1, &length);
  std::string result = (ok ? "" : "error: ") + std::string(text, length);
  lua_settop(L, top);
  return result;
}

/// Results of `entry` as tostring gives them, or the error text as the only
/// element.
inline std::vector<std::string> RunEntry(ScriptHost& host, const std::string& entry) {
  ToStringCall call;
  try {
    host.Call(entry, call);
  } catch (const std::exception& e) {
    return {std::string("error: ") + e.what()};
  }
  return call.results;
}

}  // namespace dnt::testing
