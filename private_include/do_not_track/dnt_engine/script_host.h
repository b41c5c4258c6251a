// The Lua host: one Lua state configured for the base scripts, entry points
// resolved by name from the precompiled script bases, a fixed call protocol,
// and every script failure turned into a C++ exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "do_not_track/dnt_engine/bug_queries.h"
#include "orv/com_ptr.h"
#include "orv/tracer.h"

struct lua_State;

namespace dnt {

class Bases;
class StateLimits;
struct ServiceSettings;

/// What a session-stage host's engine calls see: the bases snapshot and the
/// settings of the session. The session processor implements it; tests and
/// tools use BasesEngineContext (bases_provider.h). It must outlive the host.
class IScriptEngineContext {
 public:
  virtual const Bases& GetBases() const = 0;
  virtual const ServiceSettings& GetSettings() const = 0;

 protected:
  ~IScriptEngineContext() = default;
};

/// How a caller exchanges values with an entry point.
class ScriptCall {
 public:
  /// Pushes the arguments; states how many there are and how many results
  /// the call must deliver.
  virtual void PushArguments(lua_State* L, int& argumentCount, int& resultCount) = 0;
  /// Reads the results from the top of the stack; the host pops them after.
  virtual void ReadResults(lua_State* L) = 0;

 protected:
  ~ScriptCall() = default;
};

/// No arguments; keeps every result as tostring gives it, for the tools and
/// tests that show what an entry returns.
class ToStringCall final : public ScriptCall {
 public:
  void PushArguments(lua_State* L, int& argumentCount, int& resultCount) override;
  void ReadResults(lua_State* L) override;

  std::vector<std::string> results;

 private:
  int m_base = 0;
};

enum class ScriptStage {
  /// Runs the script files once to learn their names; pool-allocated,
  /// bounded in memory and time, no engine calls.
  Discovery,
  /// Runs the entry points of one HTTP session; bounded in memory, and
  /// each Call in instructions.
  Session,
};

class ScriptHost {
 public:
  /// Bytes a discovery-stage state may hold at once.
  static constexpr std::size_t DiscoveryMemoryLimit = std::size_t{256} << 20;
  /// VM instructions one script registration may run at the discovery stage.
  static constexpr uint64_t DiscoveryInstructionLimit = 200'000'000;
  /// Bytes a session state may hold at once.
  static constexpr std::size_t SessionMemoryLimit = std::size_t{64} << 20;
  /// VM instructions one Call of a session host may run.
  static constexpr uint64_t SessionInstructionLimit = 100'000'000;

  /// Creates and configures the state. `context` is null for a discovery
  /// host (engine calls then fail); `settings` fixes the DntEngine settings
  /// constants. Throws std::runtime_error "Failed to init script engine" when
  /// no state can be made, or the panic handler's error.
  ScriptHost(orv::ComPtr<orv::ITracer> tracer, const IScriptEngineContext* context,
             const ServiceSettings& settings, ScriptStage stage);
  ~ScriptHost();
  ScriptHost(const ScriptHost&) = delete;
  ScriptHost& operator=(const ScriptHost&) = delete;

  /// Runs entry point `entry`: resolving it, `call`'s arguments, the call
  /// and `call`'s results all run inside one protected call, so a failure
  /// anywhere leaves the state clean. Every script failure is thrown as
  /// std::runtime_error; a C++ exception of `call` comes out as itself. A
  /// session host gives each Call SessionInstructionLimit instructions. The
  /// stack is left as it was found either way.
  void Call(std::string_view entry, ScriptCall& call);

  /// Pushes the value of entry `name`, loading and initialising its script
  /// on first use and serving it from the cache afterwards. Failures are
  /// raised as Lua errors (outside a protected call they come out of the
  /// panic handler as std::runtime_error); a chunk that cannot be loaded
  /// throws std::runtime_error directly. `L` is the thread to work on: the
  /// host's state, or the coroutine of the script that asks.
  void ResolveEntry(lua_State* L, std::string_view name);
  void ResolveEntry(std::string_view name) { ResolveEntry(State(), name); }

  /// Loads `bytes` (source or binary) under `chunkName` and runs it with no
  /// arguments and two results, which stay on the stack. With `dump`, the
  /// compiled function is first written to it (debug information included).
  void LoadChunk(lua_State* L, const void* bytes, std::size_t length, const char* chunkName, std::string* dump);
  void LoadChunk(const void* bytes, std::size_t length, const char* chunkName, std::string* dump) {
    LoadChunk(State(), bytes, length, chunkName, dump);
  }

  /// lua_pcall without a message handler; a failure is raised again as
  /// `prefix` + the error text.
  static void ProtectedCall(lua_State* L, int argumentCount, int resultCount, const char* prefix);
  void ProtectedCall(int argumentCount, int resultCount, const char* prefix) {
    ProtectedCall(State(), argumentCount, resultCount, prefix);
  }

  /// Gives the next script run a fresh instruction allowance.
  void RestartInstructionBudget() noexcept;

  lua_State* State() const noexcept { return m_state.get(); }
  /// Bytes the state holds from the C heap, free blocks included: what its
  /// memory limit counts.
  std::size_t HeldBytes() const noexcept;
  orv::ITracer* Tracer() const noexcept { return m_tracer.Get(); }
  /// Null at the discovery stage.
  const IScriptEngineContext* Context() const noexcept { return m_context; }

  /// What the engine queries of this host reuse from one call to the next,
  /// so that matching a URL allocates nothing once the host is warm. Made on
  /// first use; throws std::bad_alloc.
  BugMatchContext& Matching();

  /// The host a state belongs to (registry "DntEngine"), or null.
  static ScriptHost* FromState(lua_State* L) noexcept;

 private:
  struct StateCloser {
    void operator()(lua_State* L) const noexcept;
  };

  void Configure(const ServiceSettings& settings);

  orv::ComPtr<orv::ITracer> m_tracer;
  ScriptStage m_stage;
  // Declared before the state so that the state is closed first.
  std::unique_ptr<StateLimits> m_limits;
  std::unique_ptr<lua_State, StateCloser> m_state;
  const IScriptEngineContext* m_context;
  int m_cacheRef = 0;
  std::unique_ptr<BugMatchContext> m_matching;
};

/// The panic function of every host's state: throws std::runtime_error
/// "fatal script error: " + status name + ": " + the error text.
int ScriptPanicHandler(lua_State* L);

}  // namespace dnt
