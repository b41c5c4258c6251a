#include "source/scripting/bounded_libraries.h"

#include <lua.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <new>
#include <string_view>
#include <vector>

#include "source/scripting/counted_patterns.h"
#include "source/scripting/counted_tables.h"
#include "source/scripting/dnt_parsed_url.h"
#include "source/scripting/state_limits.h"

namespace dnt {
namespace {

constexpr int FinalizedMetatables = 3;
// The collector's own bounds: a pause below 100 starts each cycle before
// the last one ended and a large step multiplier makes each allocation run
// a whole cycle; either way collection work would outgrow what is charged.
constexpr lua_Integer MinCollectorPause = 100;
constexpr lua_Integer MaxCollectorStepMultiplier = 1000;
// A comparison is a call of a C function from sort: some dozen instructions'
// worth, besides what it compares.
constexpr double ComparisonSteps = 16;
// A whole collection reads about every byte the state holds.
constexpr std::size_t CollectedBytesPerStep = StateLimits::BytesPerStep / 2;

// The library functions that the bounded ones call, and those that string
// and table keep. The libraries are linked once, so they are the same in
// every state: read once from a state of the library's own.
struct StandardFunctions {
  lua_CFunction rep, byte, sort;
  lua_CFunction tonumber, rawequal, load, setmetatable, collectgarbage;
  lua_CFunction debugSetmetatable, ioWrite, fileWrite;
  lua_CFunction finalizers[FinalizedMetatables];  // files, DntParsedUrl, C libraries
  // The compatibility functions the library was built with.
  bool maxn, loadstring, unpack;
  // The string and table libraries as their openers fill them (in this
  // order, so that their tables come out the same), bounded functions in
  // place.
  std::vector<luaL_Reg> string, table;
};

lua_CFunction FieldFunction(lua_State* L, int table, const char* name) {
  lua_getfield(L, table, name);
  const lua_CFunction function = lua_tocfunction(L, -1);
  lua_pop(L, 1);
  return function;
}

// Pushes the metatables whose finalizers the libraries own, in the order of
// StandardFunctions::finalizers, and the loaded C libraries' table.
void PushFinalizedObjects(lua_State* L) {
  lua_getfield(L, LUA_REGISTRYINDEX, LUA_FILEHANDLE);
  lua_getfield(L, LUA_REGISTRYINDEX, DntParsedUrlTypeName);
  lua_getfield(L, LUA_REGISTRYINDEX, "_CLIBS");
  if (!lua_getmetatable(L, -1)) lua_pushnil(L);
  lua_insert(L, -2);
}

// The functions of the library table at `table`, named in `order`, with the
// bounded ones in place; names the library lacks are left out.
std::vector<luaL_Reg> LibraryFunctions(lua_State* L, int table, std::initializer_list<const char*> order,
                                       std::initializer_list<luaL_Reg> bounded) {
  std::vector<luaL_Reg> functions;
  for (const char* name : order) {
    lua_CFunction function = FieldFunction(L, table, name);
    if (!function) continue;
    for (const luaL_Reg& replacement : bounded) {
      if (std::string_view(replacement.name) == name) function = replacement.func;
    }
    functions.push_back({name, function});
  }
  functions.push_back({nullptr, nullptr});
  return functions;
}

// Defined with the other charged functions below.
int ChargedRep(lua_State* L);
int ChargedByte(lua_State* L);
int ChargedSort(lua_State* L);

StandardFunctions ReadStandardFunctions() {
  StandardFunctions f{};
  lua_State* L = luaL_newstate();
  if (!L) throw std::bad_alloc();
  luaL_openlibs(L);
  luaL_requiref(L, "DntParsedUrl", OpenDntParsedUrl, 0);
  lua_settop(L, 0);
  luaL_getsubtable(L, LUA_REGISTRYINDEX, "_LOADED");
  const int loaded = lua_gettop(L);
  lua_getfield(L, loaded, LUA_STRLIBNAME);
  f.rep = FieldFunction(L, -1, "rep");
  f.byte = FieldFunction(L, -1, "byte");
  f.string = LibraryFunctions(L, lua_gettop(L),
                              {"byte", "char", "dump", "find", "format", "gmatch", "gsub", "len", "lower", "match",
                               "rep", "reverse", "sub", "upper"},
                              {{"byte", &ChargedByte},
                               {"find", &CountedFind},
                               {"gmatch", &CountedGmatch},
                               {"gsub", &CountedGsub},
                               {"match", &CountedMatch},
                               {"rep", &ChargedRep}});
  lua_getfield(L, loaded, LUA_TABLIBNAME);
  f.sort = FieldFunction(L, -1, "sort");
  f.maxn = FieldFunction(L, -1, "maxn") != nullptr;
  f.table = LibraryFunctions(L, lua_gettop(L), {"concat", "maxn", "insert", "pack", "unpack", "remove", "sort"},
                             {{"concat", &CountedConcat},
                              {"maxn", &CountedMaxn},
                              {"insert", &CountedInsert},
                              {"unpack", &CountedUnpack},
                              {"remove", &CountedRemove},
                              {"sort", &ChargedSort}});
  lua_getfield(L, loaded, "_G");
  f.tonumber = FieldFunction(L, -1, "tonumber");
  f.rawequal = FieldFunction(L, -1, "rawequal");
  f.load = FieldFunction(L, -1, "load");
  f.setmetatable = FieldFunction(L, -1, "setmetatable");
  f.collectgarbage = FieldFunction(L, -1, "collectgarbage");
  f.loadstring = FieldFunction(L, -1, "loadstring") != nullptr;
  f.unpack = FieldFunction(L, -1, "unpack") != nullptr;
  lua_getfield(L, loaded, LUA_DBLIBNAME);
  f.debugSetmetatable = FieldFunction(L, -1, "setmetatable");
  lua_getfield(L, loaded, LUA_IOLIBNAME);
  f.ioWrite = FieldFunction(L, -1, "write");
  PushFinalizedObjects(L);
  f.fileWrite = lua_istable(L, -4) ? FieldFunction(L, -4, "write") : nullptr;
  for (int i = 0; i < FinalizedMetatables; ++i) {
    f.finalizers[i] = lua_istable(L, -4 + i) ? FieldFunction(L, -4 + i, "__gc") : nullptr;
  }
  lua_close(L);
  return f;
}

const StandardFunctions& Standard() {
  static const StandardFunctions functions = ReadStandardFunctions();
  return functions;
}

// ---- Charged functions ----------------------------------------------------

std::size_t StringLength(lua_State* L, int index) {
  if (lua_type(L, index) != LUA_TSTRING) return 0;
  std::size_t length = 0;
  lua_tolstring(L, index, &length);
  return length;
}

// A string or number argument's length, as the string library reads it (a
// number as its text); 0 for other types, which the function then refuses.
std::size_t TextLength(lua_State* L, int index) {
  const int type = lua_type(L, index);
  if (type != LUA_TSTRING && type != LUA_TNUMBER) return 0;
  std::size_t length = 0;
  lua_tolstring(L, index, &length);
  return length;
}

// string.rep loops `count` times, copying the string and the separator: the
// work is known before it starts. The originals run inside the charging
// function's own frame, so they never become Lua values a script could call
// unbounded, and their messages name the same function.
int ChargedRep(lua_State* L) {
  const int count = static_cast<int>(lua_tointeger(L, 2));  // as luaL_checkint reads it
  if (count > 0) {
    StateLimits::Charge(L, count * (1.0 + static_cast<double>(TextLength(L, 1) + TextLength(L, 3))));
  }
  return Standard().rep(L);
}

// A position argument as the string library reads it, made absolute.
double Position(lua_State* L, int index, double fallback, double length) {
  const double position = lua_type(L, index) == LUA_TNUMBER ? static_cast<double>(lua_tointeger(L, index)) : fallback;
  return position >= 0 ? position : std::max(0.0, length + position + 1);
}

// string.byte pushes one value per byte of its range, without allocating.
int ChargedByte(lua_State* L) {
  const auto length = static_cast<double>(TextLength(L, 1));
  const double first = std::max(1.0, Position(L, 2, 1, length));
  const double last = std::min(length, Position(L, 3, first, length));
  if (last >= first) StateLimits::Charge(L, last - first + 1);
  return Standard().byte(L);
}

// What table.sort calls for each comparison: the script's function, or "<",
// charged by the bytes two strings may need.
int ChargedComparison(lua_State* L) {
  if (!lua_isnil(L, lua_upvalueindex(1))) {
    StateLimits::Charge(L, ComparisonSteps);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, 2, 1);
    return 1;
  }
  StateLimits::ChargeBytes(L, StateLimits::BytesPerStep * static_cast<std::size_t>(ComparisonSteps) +
                                std::min(StringLength(L, 1), StringLength(L, 2)));
  lua_pushboolean(L, lua_compare(L, 1, 2, LUA_OPLT));
  return 1;
}

// The library's sort, with its comparisons charged one by one (a quicksort
// can take quadratically many).
int ChargedSort(lua_State* L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  if (!lua_isnoneornil(L, 2)) luaL_checktype(L, 2, LUA_TFUNCTION);
  lua_settop(L, 2);
  lua_pushcclosure(L, &ChargedComparison, 1);
  return Standard().sort(L);
}

int ChargedTonumber(lua_State* L) {
  StateLimits::ChargeBytes(L, StringLength(L, 1));
  return Standard().tonumber(L);
}

int ChargedRawequal(lua_State* L) {
  StateLimits::ChargeBytes(L, std::min(StringLength(L, 1), StringLength(L, 2)));
  return Standard().rawequal(L);
}

// A load reader's pieces are parsed as they come; a comment allocates nothing.
int ChargedReader(lua_State* L) {
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_call(L, 0, 1);
  StateLimits::ChargeBytes(L, StringLength(L, -1));
  return 1;
}

int ChargedLoad(lua_State* L) {
  if (lua_type(L, 1) == LUA_TFUNCTION) {
    lua_pushvalue(L, 1);
    lua_pushcclosure(L, &ChargedReader, 1);
    lua_replace(L, 1);
  } else {
    StateLimits::ChargeBytes(L, StringLength(L, 1));
  }
  return Standard().load(L);
}

// The base library's print, with what it writes charged.
int ChargedPrint(lua_State* L) {
  const int n = lua_gettop(L);
  lua_getglobal(L, "tostring");
  for (int i = 1; i <= n; i++) {
    lua_pushvalue(L, -1);
    lua_pushvalue(L, i);
    lua_call(L, 1, 1);
    std::size_t l = 0;
    const char* s = lua_tolstring(L, -1, &l);
    if (s == nullptr) return luaL_error(L, LUA_QL("tostring") " must return a string to " LUA_QL("print"));
    StateLimits::ChargeBytes(L, l);
    if (i > 1) std::fwrite("\t", 1, 1, stdout);
    std::fwrite(s, 1, l, stdout);
    lua_pop(L, 1);
  }
  std::fwrite("\n", 1, 1, stdout);
  std::fflush(stdout);
  return 0;
}

std::size_t StringArgumentBytes(lua_State* L) {
  std::size_t bytes = 0;
  for (int i = 1, n = lua_gettop(L); i <= n; ++i) bytes += StringLength(L, i);
  return bytes;
}

int ChargedIoWrite(lua_State* L) {
  StateLimits::ChargeBytes(L, StringArgumentBytes(L));
  return Standard().ioWrite(L);
}

int ChargedFileWrite(lua_State* L) {
  StateLimits::ChargeBytes(L, StringArgumentBytes(L));
  return Standard().fileWrite(L);
}

// A whole collection, or a step that may finish one, costs about what the
// state holds; the collector's tuning stays where that is true.
int BoundedCollectGarbage(lua_State* L) {
  const char* option = lua_type(L, 1) == LUA_TSTRING ? lua_tostring(L, 1) : lua_isnoneornil(L, 1) ? "collect" : "";
  const std::string_view what(option);
  if (what == "collect" || what == "step") {
    RestoreLibraryFinalizers(L);
    StateLimits::Charge(L, static_cast<double>(StateLimits::HeldBytesOf(L) / CollectedBytesPerStep));
  } else if (what == "generational") {
    // The generational collector sweeps the whole state at each minor
    // collection; it stays incremental.
    lua_pushinteger(L, 0);
    return 1;
  } else if (lua_type(L, 2) == LUA_TNUMBER) {
    const lua_Integer value = lua_tointeger(L, 2);
    if (what == "setpause" && value < MinCollectorPause) {
      lua_pushinteger(L, MinCollectorPause);
      lua_replace(L, 2);
    } else if (what == "setstepmul" && value > MaxCollectorStepMultiplier) {
      lua_pushinteger(L, MaxCollectorStepMultiplier);
      lua_replace(L, 2);
    }
  }
  return Standard().collectgarbage(L);
}

// ---- Finalizers -----------------------------------------------------------

void RefuseFinalizer(lua_State* L, int metatable) {
  if (lua_type(L, metatable) != LUA_TTABLE) return;
  lua_pushliteral(L, "__gc");
  lua_rawget(L, metatable);
  const bool finalizer = !lua_isnil(L, -1);
  lua_pop(L, 1);
  if (finalizer) luaL_error(L, "base scripts cannot set finalizers (__gc)");
}

// Userdata come from the libraries, and so does the table of the loaded C
// libraries: objects that the libraries may have marked for finalization.
void RefuseLibraryObject(lua_State* L, int object) {
  bool library = lua_type(L, object) == LUA_TUSERDATA;
  if (!library && lua_type(L, object) == LUA_TTABLE) {
    lua_getfield(L, LUA_REGISTRYINDEX, "_CLIBS");
    library = lua_rawequal(L, -1, object);
    lua_pop(L, 1);
  }
  if (library) luaL_error(L, "base scripts cannot change the metatable of a library object");
}

// Only tables reach setmetatable; a metatable set on a library object would
// outlive the library's own finalizer.
int GuardedSetmetatable(lua_State* L) {
  RefuseFinalizer(L, 2);
  RefuseLibraryObject(L, 1);
  return Standard().setmetatable(L);
}

int GuardedDebugSetmetatable(lua_State* L) {
  RefuseFinalizer(L, 2);
  RefuseLibraryObject(L, 1);
  return Standard().debugSetmetatable(L);
}

// What getmetatable gives: a library's metatable stays out of reach.
int GuardedDebugGetmetatable(lua_State* L) {
  luaL_checkany(L, 1);
  if (!lua_getmetatable(L, 1)) {
    lua_pushnil(L);
    return 1;
  }
  lua_pushliteral(L, "__metatable");
  lua_rawget(L, -2);
  if (lua_isnil(L, -1)) lua_pop(L, 1);
  return 1;
}

int RefusedGetregistry(lua_State* L) { return luaL_error(L, "base scripts cannot reach the registry"); }

bool IsMetamethodName(const char* name) { return name[0] == '_' && name[1] == '_'; }

// Takes the methods table from the top of the stack.
void HideMetatable(lua_State* L, int metatable) {
  lua_setfield(L, metatable, "__index");
  lua_pushboolean(L, 0);
  lua_setfield(L, metatable, "__metatable");
}

int RestoreFinalizers(lua_State* L) {
  const StandardFunctions& standard = Standard();
  PushFinalizedObjects(L);
  for (int i = 0; i < FinalizedMetatables; ++i) {
    const int metatable = -4 + i;
    if (lua_istable(L, metatable) && standard.finalizers[i]) {
      lua_pushliteral(L, "__gc");
      lua_pushcfunction(L, standard.finalizers[i]);
      lua_rawset(L, metatable - 2);
    }
  }
  return 0;
}

void SetFunction(lua_State* L, const char* name, lua_CFunction function) {
  lua_pushcfunction(L, function);
  lua_setfield(L, -2, name);
}

// luaL_setfuncs without its version check, which would run once per table
// of every new state.
void SetFunctions(lua_State* L, const luaL_Reg* functions) {
  for (; functions->name; ++functions) SetFunction(L, functions->name, functions->func);
}

constexpr luaL_Reg BaseFunctions[] = {
    {"tonumber", &ChargedTonumber},         {"rawequal", &ChargedRawequal},
    {"load", &ChargedLoad},                 {"print", &ChargedPrint},
    {"setmetatable", &GuardedSetmetatable}, {"collectgarbage", &BoundedCollectGarbage},
    {nullptr, nullptr},
};

}  // namespace

int OpenBoundedString(lua_State* L) {
  const std::vector<luaL_Reg>& functions = Standard().string;
  lua_createtable(L, 0, static_cast<int>(functions.size() - 1));
  SetFunctions(L, functions.data());
  // The strings' metatable, as the library makes it: its "__index" is the
  // library table.
  lua_createtable(L, 0, 1);
  lua_pushliteral(L, "");
  lua_pushvalue(L, -2);
  lua_setmetatable(L, -2);
  lua_pop(L, 1);
  lua_pushvalue(L, -2);
  lua_setfield(L, -2, "__index");
  lua_pop(L, 1);
  return 1;
}

int OpenBoundedTable(lua_State* L) {
  const std::vector<luaL_Reg>& functions = Standard().table;
  lua_createtable(L, 0, static_cast<int>(functions.size() - 1));
  SetFunctions(L, functions.data());
  if (Standard().unpack) {
    lua_pushcfunction(L, &CountedUnpack);
    lua_setglobal(L, "unpack");
  }
  return 1;
}

void BoundLibraryFunctions(lua_State* L) {
  // The loaded modules are the tables that the globals share.
  luaL_getsubtable(L, LUA_REGISTRYINDEX, "_LOADED");
  lua_getfield(L, -1, "_G");
  SetFunctions(L, BaseFunctions);
  if (Standard().loadstring) SetFunction(L, "loadstring", &ChargedLoad);
  lua_getfield(L, -2, LUA_DBLIBNAME);
  SetFunction(L, "setmetatable", &GuardedDebugSetmetatable);
  SetFunction(L, "getmetatable", &GuardedDebugGetmetatable);
  SetFunction(L, "getregistry", &RefusedGetregistry);
  lua_getfield(L, -3, LUA_IOLIBNAME);
  SetFunction(L, "write", &ChargedIoWrite);
  lua_getfield(L, LUA_REGISTRYINDEX, LUA_FILEHANDLE);
  if (lua_istable(L, -1)) {
    SetFunction(L, "write", &ChargedFileWrite);
    ProtectMetatable(L, -1);
  }
  lua_getfield(L, LUA_REGISTRYINDEX, "_CLIBS");
  if (lua_getmetatable(L, -1)) {
    ProtectMetatable(L, -1);
    lua_pop(L, 1);
  }
  lua_pop(L, 6);
}

void ProtectMetatable(lua_State* L, int metatable) {
  metatable = lua_absindex(L, metatable);
  // Sized at once: a table grown entry by entry rehashes at every power of
  // two, and every new state makes these.
  int fields = 0;
  lua_pushnil(L);
  while (lua_next(L, metatable)) {
    lua_pop(L, 1);
    ++fields;
  }
  lua_createtable(L, 0, fields);
  lua_pushnil(L);
  while (lua_next(L, metatable)) {
    if (lua_type(L, -2) == LUA_TSTRING && !IsMetamethodName(lua_tostring(L, -2))) {
      lua_pushvalue(L, -2);
      lua_insert(L, -2);
      lua_rawset(L, -4);
    } else {
      lua_pop(L, 1);
    }
  }
  HideMetatable(L, metatable);
}

void SetProtectedMethods(lua_State* L, int metatable, const luaL_Reg* functions, int count) {
  metatable = lua_absindex(L, metatable);
  lua_createtable(L, 0, count);
  for (; functions->name; ++functions) {
    lua_pushcfunction(L, functions->func);
    lua_setfield(L, IsMetamethodName(functions->name) ? metatable : -2, functions->name);
  }
  HideMetatable(L, metatable);
}

void RestoreLibraryFinalizers(lua_State* L) noexcept {
  // Protected: a state that is out of memory leaves them as they are.
  lua_pushcfunction(L, &RestoreFinalizers);
  if (lua_pcall(L, 0, 0, 0) != LUA_OK) lua_pop(L, 1);
}

}  // namespace dnt
