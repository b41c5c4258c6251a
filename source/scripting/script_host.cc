#include "do_not_track/dnt_engine/script_host.h"

#include <lua.hpp>

#include <exception>
#include <stdexcept>
#include <string_view>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "do_not_track/service_settings.h"
#include "source/scripting/bounded_libraries.h"
#include "source/scripting/dnt_engine_api.h"
#include "source/scripting/pool_allocator.h"
#include "source/scripting/script_errors.h"
#include "source/scripting/script_extensions.h"
#include "source/scripting/state_limits.h"

namespace dnt {
namespace {

constexpr const char* RegistryHostKey = "DntEngine";
// Room in the globals and in the loaded-modules table for what a new state
// puts there: the base functions, the libraries and the script objects.
constexpr int GlobalsSize = 64;
constexpr int LoadedSize = 16;
constexpr const char* DiscoveryTooLong = "the script runs too long at the script discovery stage";
constexpr const char* SessionTooLong = "the script runs too long";

/// The standard libraries as luaL_openlibs opens them, each set as a global;
/// string and table with their bulk work bounded.
constexpr luaL_Reg StandardLibraries[] = {
    {"_G", luaopen_base},           {LUA_LOADLIBNAME, luaopen_package}, {LUA_COLIBNAME, luaopen_coroutine},
    {LUA_TABLIBNAME, OpenBoundedTable}, {LUA_IOLIBNAME, luaopen_io},     {LUA_OSLIBNAME, luaopen_os},
    {LUA_STRLIBNAME, OpenBoundedString}, {LUA_BITLIBNAME, luaopen_bit32}, {LUA_MATHLIBNAME, luaopen_math},
    {LUA_DBLIBNAME, luaopen_debug},
};

// luaL_requiref with the loaded-modules table and the globals at stack
// indexes `loaded` and `globals`: the name is made once, where requiref looks
// both tables up and makes the name again for each. Neither table has a
// metatable yet, so raw sets do what requiref's sets do.
void OpenStandardLibrary(lua_State* L, const luaL_Reg& library, int loaded, int globals) {
  lua_pushstring(L, library.name);
  lua_pushcfunction(L, library.func);
  lua_pushvalue(L, -2);
  lua_call(L, 1, 1);
  for (const int table : {loaded, globals}) {
    lua_pushvalue(L, -2);
    lua_pushvalue(L, -2);
    lua_rawset(L, table);
  }
  lua_pop(L, 2);
}

/// Puts the stack top back on every way out of a scope.
class StackTopGuard {
 public:
  explicit StackTopGuard(lua_State* L) : m_state(L), m_top(lua_gettop(L)) {}
  ~StackTopGuard() { lua_settop(m_state, m_top); }
  StackTopGuard(const StackTopGuard&) = delete;
  StackTopGuard& operator=(const StackTopGuard&) = delete;

 private:
  lua_State* m_state;
  int m_top;
};

// An exhausted state fails whatever it does, and Lua names what fails
// after the count hook stopped it a memory error: give it its true name.
int NameOverrun(lua_State* L, int status) {
  if (status == LUA_OK || !StateLimits::Exhausted(L)) return status;
  RestoreLibraryFinalizers(L);
  StateLimits::Settle(L);
  std::size_t length = 0;
  const char* text = lua_type(L, -1) == LUA_TSTRING ? lua_tolstring(L, -1, &length) : nullptr;
  if (status != LUA_ERRMEM && !(text && std::string_view(text, length) == "not enough memory")) return status;
  lua_pop(L, 1);
  lua_pushstring(L, StateLimits::TooLongMessage(L));
  return LUA_ERRRUN;
}

int DumpWriter(lua_State*, const void* piece, std::size_t size, void* target) {
  // Any exception here would cross lua_dump; report the failure instead.
  try {
    static_cast<std::string*>(target)->append(static_cast<const char*>(piece), size);
    return 0;
  } catch (...) {
    return 1;
  }
}

/// What Call hands to RunEntry through the protected call.
struct EntryCall {
  ScriptHost* host;
  std::string_view entry;
  ScriptCall* call;
  // A C++ exception thrown inside, carried out of the protected call: Lua
  // would turn it into an anonymous error.
  std::exception_ptr failure;
};

// The whole of Call, run protected: a Lua error raised anywhere here, in a
// metamethod of an argument or a result too, unwinds to lua_pcall, which
// restores the state's call frames.
int RunEntry(lua_State* L) {
  auto& frame = *static_cast<EntryCall*>(lua_touserdata(L, 1));
  lua_pop(L, 1);
  try {
    frame.host->ResolveEntry(L, frame.entry);
    int argumentCount = 0;
    int resultCount = 0;
    frame.call->PushArguments(L, argumentCount, resultCount);
    ScriptHost::ProtectedCall(L, argumentCount, resultCount, "failed to execute a script: ");
    frame.call->ReadResults(L);
    return 0;
  } catch (const std::exception&) {
    // Lua's own errors are no std::exception and go on to lua_pcall.
    frame.failure = std::current_exception();
  }
  // Out of the handler before raising: a Lua error is a C++ exception too.
  // The error value does not matter, Call rethrows the exception instead.
  lua_settop(L, 0);
  lua_pushnil(L);
  return lua_error(L);
}

}  // namespace

void ToStringCall::PushArguments(lua_State* L, int& argumentCount, int& resultCount) {
  m_base = lua_gettop(L) - 1;  // below the entry's function
  argumentCount = 0;
  resultCount = LUA_MULTRET;
}

void ToStringCall::ReadResults(lua_State* L) {
  const int top = lua_gettop(L);
  for (int i = m_base + 1; i <= top; ++i) {
    std::size_t length = 0;
    const char* text = luaL_tolstring(L, i, &length);
    results.emplace_back(text, length);
    lua_pop(L, 1);
  }
}

void ScriptHost::StateCloser::operator()(lua_State* L) const noexcept {
  // Closing runs the finalizers that are left: the libraries' own.
  RestoreLibraryFinalizers(L);
  lua_close(L);
}

ScriptHost::ScriptHost(orv::ComPtr<orv::ITracer> tracer, const IScriptEngineContext* context,
                       const ServiceSettings& settings, ScriptStage stage)
    : m_tracer(std::move(tracer)), m_stage(stage), m_context(context) {
  if (stage == ScriptStage::Discovery) {
    m_limits = std::make_unique<StateLimits>(std::make_unique<PoolLuaAllocator>(DiscoveryMemoryLimit),
                                             DiscoveryInstructionLimit, DiscoveryTooLong);
  } else {
    m_limits = std::make_unique<StateLimits>(SessionMemoryLimit, SessionInstructionLimit, SessionTooLong);
  }
  lua_State* L = m_limits->NewState();
  if (!L) throw std::runtime_error("Failed to init script engine");
  m_state.reset(L);
  lua_atpanic(L, &ScriptPanicHandler);
  // A failure below comes out of the panic handler as an exception; the
  // members then close the state and release the pool.
  Configure(settings);
}

ScriptHost::~ScriptHost() = default;

void ScriptHost::Configure(const ServiceSettings& settings) {
  lua_State* L = m_state.get();
  // Everything made here stays alive, so collecting while it is made is
  // wasted work; and the tables that fill up here get their final size at
  // once instead of growing step by step. Neither is visible to scripts,
  // which have not run yet.
  lua_gc(L, LUA_GCSTOP, 0);
  lua_createtable(L, 0, GlobalsSize);
  lua_pushvalue(L, -1);
  lua_rawseti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
  lua_createtable(L, 0, LoadedSize);
  lua_pushvalue(L, -1);
  lua_setfield(L, LUA_REGISTRYINDEX, "_LOADED");
  const int loaded = lua_gettop(L);
  for (const luaL_Reg& library : StandardLibraries) OpenStandardLibrary(L, library, loaded, loaded - 1);
  lua_pop(L, 2);
  luaL_getsubtable(L, LUA_REGISTRYINDEX, "_PRELOAD");
  lua_pop(L, 1);

  lua_pushlightuserdata(L, this);
  lua_setfield(L, LUA_REGISTRYINDEX, RegistryHostKey);

  lua_createtable(L, 0, 0);
  m_cacheRef = luaL_ref(L, LUA_REGISTRYINDEX);

  OpenDntEngine(L, this, settings);
  OpenHttpMessageTables(L);
  OpenScriptModules(L);

  // No single C call may do unbounded work, and no script may lift the
  // bound: not by removing the hook, nor by running code where hooks are off
  // (finalizers).
  BoundLibraryFunctions(L);
  GuardCountHook(L);
  m_limits->Restart(L);
  lua_gc(L, LUA_GCRESTART, 0);
}

void ScriptHost::RestartInstructionBudget() noexcept { m_limits->Restart(m_state.get()); }

std::size_t ScriptHost::HeldBytes() const noexcept { return m_limits->HeldBytes(); }

BugMatchContext& ScriptHost::Matching() {
  if (!m_matching) m_matching = std::make_unique<BugMatchContext>();
  return *m_matching;
}

ScriptHost* ScriptHost::FromState(lua_State* L) noexcept {
  lua_getfield(L, LUA_REGISTRYINDEX, RegistryHostKey);
  // Only the host stores a light userdata there; a script that reaches the
  // registry through the debug library cannot forge one.
  auto* host = lua_islightuserdata(L, -1) ? static_cast<ScriptHost*>(lua_touserdata(L, -1)) : nullptr;
  lua_pop(L, 1);
  return host;
}

void ScriptHost::Call(std::string_view entry, ScriptCall& call) {
  lua_State* L = m_state.get();
  StackTopGuard guard(L);
  // A discovery host's allowance is per registered script, not per call.
  if (m_stage == ScriptStage::Session) RestartInstructionBudget();
  EntryCall frame{this, entry, &call, nullptr};
  lua_pushcfunction(L, &RunEntry);
  lua_pushlightuserdata(L, &frame);
  const int status = NameOverrun(L, lua_pcall(L, 1, 0, 0));
  if (frame.failure) std::rethrow_exception(frame.failure);
  if (status != LUA_OK) throw std::runtime_error(DescribeScriptFailure(L, "fatal script error: ", status));
}

void ScriptHost::ResolveEntry(lua_State* L, std::string_view name) {
  lua_rawgeti(L, LUA_REGISTRYINDEX, m_cacheRef);
  lua_pushlstring(L, name.data(), name.size());
  lua_rawget(L, -2);
  if (!lua_isnil(L, -1)) {
    lua_remove(L, -2);
    return;
  }
  lua_pop(L, 2);

  if (!m_context) RaiseScriptError(L, "engine calls are forbidden at the script discovery stage");
  const std::string* chunk = m_context->GetBases().Scripts().Find(name);
  if (!chunk) RaiseScriptError(L, "couldn't find the script '", name.data(), name.size(), "'");

  LoadChunk(L, chunk->data(), chunk->size(), "=script", nullptr);
  lua_remove(L, -2);  // the registrator is for the discovery stage only
  if (lua_isfunction(L, -1)) ProtectedCall(L, 0, 1, "failed to call script initializer: ");
  if (lua_type(L, -1) == LUA_TSTRING) {
    lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
    lua_insert(L, -2);
    lua_gettable(L, -2);
    lua_remove(L, -2);
  }
  const int type = lua_type(L, -1);
  if (type != LUA_TFUNCTION && type != LUA_TTABLE) {
    RaiseScriptError(L, "got unexpected result from the initializer of the script '", name.data(), name.size(),
                     "'");
  }
  lua_rawgeti(L, LUA_REGISTRYINDEX, m_cacheRef);
  lua_pushlstring(L, name.data(), name.size());
  lua_pushvalue(L, -3);
  lua_rawset(L, -3);
  lua_pop(L, 1);
}

void ScriptHost::LoadChunk(lua_State* L, const void* bytes, std::size_t length, const char* chunkName,
                           std::string* dump) {
  if (!bytes || length == 0) throw std::runtime_error("attempted to load empty script unexpectedely");
  const int status = luaL_loadbufferx(L, static_cast<const char*>(bytes), length, chunkName, nullptr);
  if (status != LUA_OK) throw std::runtime_error(DescribeScriptFailure(L, "failed to load a script: ", status));
  if (dump) {
    dump->clear();
    if (lua_dump(L, &DumpWriter, dump) != 0) throw std::runtime_error("failed to dump a script");
  }
  ProtectedCall(L, 0, 2, "failed to call loaded script: ");
}

void ScriptHost::ProtectedCall(lua_State* L, int argumentCount, int resultCount, const char* prefix) {
  const int status = NameOverrun(L, lua_pcall(L, argumentCount, resultCount, 0));
  if (status == LUA_OK) return;
  if (!lua_isstring(L, -1)) {
    lua_pop(L, 1);
    lua_pushstring(L, ScriptStatusName(status));
  }
  lua_pushstring(L, prefix);
  lua_insert(L, -2);
  lua_concat(L, 2);
  // Inside Call (and Require) this is an ordinary Lua error; outside any
  // protected call (the discovery stage's registration) it reaches the
  // panic handler, which throws.
  lua_error(L);
}

}  // namespace dnt
