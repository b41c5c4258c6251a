#include "source/scripting/dnt_engine_api.h"

#include <lua.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <vector>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "do_not_track/categories.h"
#include "do_not_track/dnt_engine/bug_queries.h"
#include "do_not_track/dnt_engine/script_host.h"
#include "do_not_track/service_settings.h"
#include "orv/trace/trace_stream.h"
#include "orv/trace/version.h"
#include "source/scripting/script_errors.h"
#include "source/scripting/state_limits.h"

namespace dnt {
namespace {

constexpr uint32_t VersionInternal = 2;
constexpr const char* ComponentErrorFormat = "underlying component error: %s";

ScriptHost& HostOf(lua_State* L) {
  return *static_cast<ScriptHost*>(lua_touserdata(L, lua_upvalueindex(1)));
}

// The context is the session processor's code: its lookups may throw and
// are made inside RunComponent like every other call into the component.
const IScriptEngineContext& ContextOf(lua_State* L) {
  const IScriptEngineContext* context = HostOf(L).Context();
  if (!context) RaiseScriptError(L, "engine calls are forbidden at the script discovery stage");
  return *context;
}

uint32_t CheckUint32(lua_State* L, int arg) { return ToUint32Argument(luaL_checknumber(L, arg)); }

int Log(lua_State* L) {
  orv::TraceStream line{HostOf(L).Tracer(), orv::trace_level::Routine};
  if (!line) return 0;
  line << "[SCRIPT]: ";
  const int count = lua_gettop(L);
  for (int i = 1; i <= count; ++i) {
    const int type = lua_type(L, i);
    if (type == LUA_TSTRING || type == LUA_TNUMBER) {
      std::size_t length = 0;
      const char* text = lua_tolstring(L, i, &length);
      line.Write(text, length);
    } else if (type == LUA_TBOOLEAN) {
      line << (lua_toboolean(L, i) ? "<true>" : "<false>");
    } else {
      line << '<' << lua_typename(L, type) << '>';
    }
  }
  return 0;
}

int Require(lua_State* L) {
  std::size_t length = 0;
  const char* name = luaL_checklstring(L, 1, &length);
  ScriptHost& host = HostOf(L);
  RunComponent(L, [&] { host.ResolveEntry(L, std::string_view(name, length)); }, "%s");
  return 1;
}

void PushIndexTable(lua_State* L, const std::vector<uint32_t>& indexes, bool asSet) {
  const int count = static_cast<int>(std::min<std::size_t>(indexes.size(), INT32_MAX));
  if (asSet) {
    lua_createtable(L, 0, count);
    for (uint32_t index : indexes) {
      lua_pushnumber(L, index);
      lua_pushboolean(L, 1);
      lua_rawset(L, -3);
    }
  } else {
    lua_createtable(L, count, 0);
    for (int i = 0; i < count; ++i) {
      lua_pushnumber(L, indexes[i]);
      lua_rawseti(L, -2, i + 1);
    }
  }
}

int MatchBugTable(lua_State* L, bool exceptions) {
  std::size_t length = 0;
  const char* text = luaL_checklstring(L, 1, &length);
  const bool asSet = lua_toboolean(L, 2) != 0;
  luaL_argcheck(L, length <= UINT32_MAX, 1, "string too long");
  const IScriptEngineContext& context = ContextOf(L);
  // Parsing, canonicalising and matching read the URL a few times over.
  StateLimits::Charge(L, static_cast<double>(length));

  const BugBases* bugs = nullptr;
  std::vector<uint32_t>* found = nullptr;
  RunComponent(
      L,
      [&] {
        bugs = &context.GetBases().Bugs();
        BugMatchContext& matching = HostOf(L).Matching();
        const auto size = static_cast<uint32_t>(length);
        if (exceptions) {
          MatchBugExceptions(*bugs, text, size, matching);
        } else {
          MatchBugRules(*bugs, text, size, matching);
        }
        // The result lives in the context until its next query: sorted there.
        std::vector<uint32_t>& indexes = matching.bugIndexes;
        std::sort(indexes.begin(), indexes.end());
        indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
        found = &indexes;
      },
      "underlying component error in DntMatchBugRulesImpl(): %s");
  // Nothing below runs a script before the indexes are read, so the host's
  // reused vector cannot change under them.
  const std::vector<uint32_t>& indexes = *found;
  PushIndexTable(L, indexes, asSet);
  if (!exceptions) return 1;

  ExceptionalSiteFlags flags;
  RunComponent(L, [&] { flags = DetectExceptionalSites(*bugs, indexes); },
               "underlying component error in DntDetectExceptionalSites(): %s");
  lua_pushboolean(L, flags.partner);
  lua_pushboolean(L, flags.incompatible);
  return 3;
}

int MatchRules(lua_State* L) { return MatchBugTable(L, false); }
int MatchExceptions(lua_State* L) { return MatchBugTable(L, true); }

int BugServiceOf(lua_State* L) {
  const uint32_t bugIndex = CheckUint32(L, 1);
  const IScriptEngineContext& context = ContextOf(L);
  BugService service;
  RunComponent(L, [&] { service = GetBugService(context.GetBases().Bugs(), bugIndex); }, ComponentErrorFormat);
  lua_pushnumber(L, service.serviceIndex);
  lua_pushnumber(L, service.serviceId);
  return 2;
}

int ServiceInfoOf(lua_State* L) {
  const uint32_t serviceIndex = CheckUint32(L, 1);
  const IScriptEngineContext& context = ContextOf(L);
  ServiceInfo info;
  RunComponent(L, [&] { info = GetServiceInfo(context.GetBases().Bugs(), serviceIndex); }, ComponentErrorFormat);
  lua_pushnumber(L, info.id);
  lua_pushnumber(L, info.category);
  lua_pushlstring(L, info.name.data(), info.name.size());
  return 3;
}

int ServiceBlockingEnabled(lua_State* L) {
  const uint32_t serviceIndex = CheckUint32(L, 1);
  const IScriptEngineContext& context = ContextOf(L);
  bool enabled = false;
  RunComponent(
      L, [&] { enabled = IsServiceBlockingEnabled(context.GetBases().Bugs(), serviceIndex, context.GetSettings()); },
      ComponentErrorFormat);
  lua_pushboolean(L, enabled);
  return 1;
}

int UnknownField(lua_State* L) {
  const char* key = luaL_tolstring(L, 2, nullptr);
  return luaL_error(L, "tried to access non-existent script engine method/field %s", key);
}

constexpr luaL_Reg EngineApiMethods[] = {
    {"Log", Log},
    {"Require", Require},
    {"MatchBugRules", MatchRules},
    {"MatchBugExceptions", MatchExceptions},
    {"GetBugService", BugServiceOf},
    {"GetServiceInfo", ServiceInfoOf},
    {"IsServiceBlockingEnabled", ServiceBlockingEnabled},
    {nullptr, nullptr},
};

struct NumberConstant {
  const char* name;
  lua_Number value;
};

struct BooleanConstant {
  const char* name;
  bool value;
};

constexpr int EngineApiMethodCount = static_cast<int>(std::size(EngineApiMethods)) - 1;
constexpr int NumberConstantCount = 13;
constexpr int BooleanConstantCount = 3;

std::array<NumberConstant, NumberConstantCount> NumberConstants() {
  const orv::ProductVersion& version = orv::GetProductVersion();
  return {{
      {"VERSION_MAJOR", static_cast<lua_Number>(version.major)},
      {"VERSION_MINOR", static_cast<lua_Number>(version.minor)},
      {"VERSION_BUILD", static_cast<lua_Number>(version.build)},
      {"VERSION_REVISION", static_cast<lua_Number>(version.revision)},
      {"VERSION_INTERNAL", VersionInternal},
      {"CATEGORY_SOCIAL_NETWORK", category::SocialNetwork},
      {"CATEGORY_WEB_ANALYTICS", category::WebAnalytics},
      {"CATEGORY_AD_AGENCY", category::AdAgency},
      {"CATEGORY_WEB_BUG", category::WebBug},
      {"VERDICT_NOT_DETECTED", verdict::NotDetected},
      {"VERDICT_DETECTED", verdict::Detected},
      {"VERDICT_BLOCKED", verdict::Blocked},
      {"VERDICT_BLOCK_FAILED", verdict::BlockFailed},
  }};
}

std::array<BooleanConstant, BooleanConstantCount> BooleanConstants(const ServiceSettings& settings) {
  return {{
      {"IS_VERBOSE_TRACE_ENABLED", settings.enableVerboseTrace},
      {"SHOULD_EXCLUDE_PARTNER_SITES", settings.excludePartnerSites},
      {"SHOULD_EXCLUDE_INCOMPATIBLE_SITES", settings.excludeIncompatibleSites},
  }};
}

void SetConstants(lua_State* L, const ServiceSettings& settings) {
  for (const NumberConstant& constant : NumberConstants()) {
    lua_pushnumber(L, constant.value);
    lua_setfield(L, -2, constant.name);
  }
  for (const BooleanConstant& constant : BooleanConstants(settings)) {
    lua_pushboolean(L, constant.value);
    lua_setfield(L, -2, constant.name);
  }
}

}  // namespace

uint32_t ToUint32Argument(double value) noexcept {
  if (!(value > 0)) return 0;  // negative, zero and NaN
  if (value >= 4294967296.0) return UINT32_MAX;
  return static_cast<uint32_t>(value);
}

void OpenDntEngine(lua_State* L, ScriptHost* host, const ServiceSettings& settings) {
  auto* self = static_cast<ScriptHost**>(lua_newuserdata(L, sizeof(ScriptHost*)));
  *self = host;

  // Room for every field at once: the methods, the constants and "__index".
  lua_createtable(L, 0, EngineApiMethodCount + NumberConstantCount + BooleanConstantCount + 1);
  lua_pushlightuserdata(L, host);
  luaL_setfuncs(L, EngineApiMethods, 1);
  SetConstants(L, settings);
  lua_pushvalue(L, -1);
  lua_setfield(L, -2, "__index");

  // Reading a field that is neither a method nor a constant is an error, so
  // a misspelt name fails where it is used instead of yielding nil.
  lua_createtable(L, 0, 1);
  lua_pushcfunction(L, UnknownField);
  lua_setfield(L, -2, "__index");
  lua_setmetatable(L, -2);

  lua_setmetatable(L, -2);
  lua_setglobal(L, "DntEngine");
}

}  // namespace dnt
