#include "source/scripting/dnt_parsed_url.h"

#include <lauxlib.h>
#include <lua.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "do_not_track/dnt_engine/script_host.h"
#include "orv/trace/trace_stream.h"
#include "source/scripting/bounded_libraries.h"
#include "source/scripting/script_errors.h"
#include "source/scripting/state_limits.h"

namespace dnt {
namespace {

using orv::network::ParsedUrl;
using orv::network::UrlPart;

// What a DntParsedUrl userdata holds. Should a script ever reach this type's
// metatable, it could call "__gc" early or dress a foreign userdata in it:
// the mark tells a live model from anything else.
struct UrlBox {
  std::uint64_t mark;
  ParsedUrl url;
  // The text it was parsed from, and what the state's memory cap counts for
  // it (the texts live on the C heap).
  std::size_t parsedBytes;
  std::size_t heldBytes;
};
// A model's own size and its strings' headers.
constexpr std::size_t UrlOverhead = sizeof(ParsedUrl) + 64;
constexpr std::uint64_t LiveMark = 0x6c72557261737250;  // "PrsarUrl"
constexpr std::uint64_t DeadMark = 0;

// Lua aligns userdata blocks for double, void* and long only.
static_assert(alignof(UrlBox) <= alignof(double) && alignof(UrlBox) <= alignof(void*));
static_assert(std::is_nothrow_move_constructible_v<ParsedUrl>);

// Argument 1 as a live model. Converting a string argument allocates, and an
// allocation may run a script's finaliser that reaches this object's "__gc":
// methods call this again after reading their other arguments.
UrlBox& CheckSelf(lua_State* L) {
  void* block = luaL_testudata(L, 1, DntParsedUrlTypeName);
  if (!block || lua_type(L, 1) != LUA_TUSERDATA || lua_rawlen(L, 1) != sizeof(UrlBox)) {
    // luaL_checkudata's own message, also for light or foreign userdata
    // that wear this type's metatable.
    luaL_argerror(L, 1, lua_pushfstring(L, "%s expected, got %s", DntParsedUrlTypeName, luaL_typename(L, 1)));
  }
  auto* box = static_cast<UrlBox*>(block);
  if (box->mark != LiveMark) RaiseScriptError(L, "DntParsedUrl object used after it was finalised");
  return *box;
}

// The parts' bytes: the parsed text's while a part is the original, its
// replacement's once set.
std::size_t PartBytes(const ParsedUrl& url) noexcept {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < orv::network::kUrlPartCount; ++i) bytes += url.Part(static_cast<UrlPart>(i)).size();
  return bytes;
}

std::size_t HeldEstimate(const UrlBox& box) noexcept { return box.parsedBytes + PartBytes(box.url) + UrlOverhead; }

// Work on a model's texts: a step per byte, as the texts are copied and
// scanned a character at a time.
void ChargeText(lua_State* L, std::size_t bytes) { StateLimits::Charge(L, static_cast<double>(bytes)); }

// Changes one part to `text` (of `length` bytes) under the memory cap: room
// for the text first, then what the model holds afterwards.
template <class Change>
void ChangePart(lua_State* L, std::size_t length, Change&& change) {
  ChargeText(L, length);
  StateLimits::HoldExternalBytes(L, length);
  UrlBox& self = CheckSelf(L);
  const std::size_t held = self.heldBytes + length;
  std::exception_ptr failure;  // keeps `text` alive until it is raised
  const char* text = nullptr;
  try {
    change(self.url);
  } catch (const std::bad_alloc&) {
    text = "std::bad_alloc";
  } catch (const std::exception& e) {
    failure = std::current_exception();
    text = e.what();
  }
  const std::size_t now = HeldEstimate(self);
  if (now < held) StateLimits::ReleaseExternalBytes(L, held - now);
  self.heldBytes = now < held ? now : held;
  if (text) RaiseComponentError(L, text, nullptr);
}

// ---- Part specificators and normalisation --------------------------------

enum class Normalisation { None, Lowercase, Path, Query };

struct PartSpecificator {
  char character;
  const char* name;
  UrlPart part;  // User stands for the whole user information
  Normalisation kind;
};

constexpr PartSpecificator Specificators[] = {
    {'s', "scheme", UrlPart::Scheme, Normalisation::Lowercase},
    {'@', "user", UrlPart::User, Normalisation::None},
    {'h', "host", UrlPart::Host, Normalisation::Lowercase},
    {':', "port", UrlPart::Port, Normalisation::None},
    {'p', "path", UrlPart::Path, Normalisation::Path},
    {'?', "query", UrlPart::Query, Normalisation::Query},
    {'#', "fragment", UrlPart::Fragment, Normalisation::Query},
};
constexpr const char* DefaultSpecificators = "s@h:p?#";

const PartSpecificator* FindSpecificator(char c) noexcept {
  for (const PartSpecificator& spec : Specificators) {
    if (spec.character == c) return &spec;
  }
  return nullptr;
}

bool IsAsciiAlphanumeric(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool IsUnreserved(unsigned char c) noexcept {
  return IsAsciiAlphanumeric(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool IsPathCharacter(unsigned char c) noexcept {
  return IsUnreserved(c) || (c != 0 && std::strchr("!$&'()*+,;=:@", c) != nullptr);
}
bool IsQueryCharacter(unsigned char c) noexcept { return IsPathCharacter(c) || c == '/' || c == '?'; }

int HexValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte of an escape starting at `at`, or -1 when there is none.
int EscapedByte(std::string_view text, std::size_t at) noexcept {
  if (text[at] != '%' || text.size() - at < 3) return -1;
  const int high = HexValue(text[at + 1]);
  const int low = HexValue(text[at + 2]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Decodes only the escapes whose byte `decodes` accepts, so that an escaped
// delimiter keeps its meaning.
void AppendDecoded(std::string_view text, bool (*decodes)(unsigned char), std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int byte = EscapedByte(text, i);
    if (byte >= 0 && decodes(static_cast<unsigned char>(byte))) {
      out += static_cast<char>(byte);
      i += 2;
    } else {
      out += text[i];
    }
  }
}

void Normalise(Normalisation kind, std::string_view text, std::string& out) {
  switch (kind) {
    case Normalisation::None:
      out.assign(text);
      return;
    case Normalisation::Lowercase:
      AppendDecoded(text, IsUnreserved, out);
      for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
      return;
    case Normalisation::Path: {
      // Leading and repeated '/' go before decoding; no path-character
      // escape decodes to '/', so the order is safe.
      std::string collapsed;
      for (char c : text) {
        if (c != '/' || (!collapsed.empty() && collapsed.back() != '/')) collapsed += c;
      }
      AppendDecoded(collapsed, IsPathCharacter, out);
      return;
    }
    case Normalisation::Query:
      AppendDecoded(text, IsQueryCharacter, out);
      return;
  }
}

void PartValue(const ParsedUrl& url, const PartSpecificator& spec, bool normalise, std::string& out) {
  const std::string_view raw = spec.part == UrlPart::User ? url.UserInformation() : url.Part(spec.part);
  out.clear();
  Normalise(normalise ? spec.kind : Normalisation::None, raw, out);
}

void TraceUnsupportedSpecificator(lua_State* L, char c) {
  luaL_where(L, 1);
  const ScriptHost* host = ScriptHost::FromState(L);
  if (!host) RaiseScriptError(L, "unexpected fatal error: script engine not found");
  if (orv::TraceStream line{host->Tracer(), 500}) {
    const char* where = lua_tostring(L, -1);
    line << (where ? where : "(null)") << "Unsupported URL part specificator '" << c << "'";
  }
  lua_pop(L, 1);
}

int PushParts(lua_State* L, bool byName, bool normalise) {
  CheckSelf(L);
  const char* specificators = lua_isnoneornil(L, 2) ? DefaultSpecificators : luaL_checkstring(L, 2);
  const std::size_t count = std::strlen(specificators);
  if (count > INT_MAX) RaiseScriptError(L, "too many URL part specificators");
  // Work on a copy: pushing strings can run finalisers that change the model.
  ParsedUrl url;
  UrlBox& self = CheckSelf(L);
  ChargeText(L, self.heldBytes * (count + 1));
  RunComponent(L, [&] { url = self.url; });
  // By name at most one field per specificator row, however long the text.
  lua_createtable(L, byName ? 0 : static_cast<int>(count),
                  byName ? static_cast<int>(std::min(count, std::size(Specificators))) : 0);
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    const PartSpecificator* spec = FindSpecificator(specificators[i]);
    if (!spec) {
      TraceUnsupportedSpecificator(L, specificators[i]);
      if (byName) continue;
      lua_pushboolean(L, 0);
      lua_rawseti(L, -2, static_cast<int>(i + 1));
      continue;
    }
    RunComponent(L, [&] { PartValue(url, *spec, normalise, text); });
    lua_pushlstring(L, text.data(), text.size());
    if (byName) {
      lua_setfield(L, -2, spec->name);
    } else {
      lua_rawseti(L, -2, static_cast<int>(i + 1));
    }
  }
  return 1;
}

int GetParts(lua_State* L) { return PushParts(L, false, true); }
int GetPartsRaw(lua_State* L) { return PushParts(L, false, false); }
int GetNamedParts(lua_State* L) { return PushParts(L, true, true); }
int GetNamedPartsRaw(lua_State* L) { return PushParts(L, true, false); }

// ---- Query ----------------------------------------------------------------

// A string or number argument, else `fallback`. An empty separator would
// never advance the split, so it is refused.
std::string_view SeparatorArgument(lua_State* L, int index, const char* fallback, const char* emptyMessage) {
  if (!lua_isstring(L, index)) return fallback;
  std::size_t length = 0;
  const char* text = lua_tolstring(L, index, &length);
  if (length == 0) RaiseScriptError(L, emptyMessage);
  return {text, length};
}

// The next pair of `query` from `position`; a separator at the very end
// starts no further pair.
bool NextPair(std::string_view query, std::string_view separator, std::size_t& position, std::string_view& pair) {
  if (position >= query.size()) return false;
  const std::size_t end = std::min(query.find(separator, position), query.size());
  pair = query.substr(position, end - position);
  position = end == query.size() ? end : end + separator.size();
  return true;
}

void DecodeQueryText(std::string_view text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int byte = EscapedByte(text, i);
    if (byte >= 0) {
      out += static_cast<char>(byte);
      i += 2;
    } else {
      out += text[i] == '+' ? ' ' : text[i];
    }
  }
}

int GetQuery(lua_State* L) {
  CheckSelf(L);
  const std::string_view pairSeparator = SeparatorArgument(L, 2, "&", "empty pair separator");
  const std::string_view keySeparator = SeparatorArgument(L, 3, "=", "empty key separator");
  UrlBox& self = CheckSelf(L);
  std::string query;
  ChargeText(L, self.url.Part(UrlPart::Query).size());
  RunComponent(L, [&] { query = self.url.Part(UrlPart::Query); });
  if (query.empty()) {
    lua_newtable(L);
    return 1;
  }
  std::size_t pairs = 0;
  std::string_view pair;
  for (std::size_t position = 0; NextPair(query, pairSeparator, position, pair);) ++pairs;
  if (pairs > INT_MAX) RaiseScriptError(L, "too many query pairs");
  lua_pushboolean(L, 0);  // the value of a key without value
  lua_createtable(L, 0, static_cast<int>(pairs));
  lua_createtable(L, static_cast<int>(pairs), 0);  // the keys in order, repeats included
  std::string key;
  std::string value;
  int n = 0;
  for (std::size_t position = 0; NextPair(query, pairSeparator, position, pair);) {
    const std::size_t split = pair.find(keySeparator);
    RunComponent(L, [&] {
      DecodeQueryText(pair.substr(0, split), key);
      if (split != std::string_view::npos) DecodeQueryText(pair.substr(split + keySeparator.size()), value);
    });
    lua_pushlstring(L, key.data(), key.size());
    lua_pushvalue(L, -1);
    lua_rawseti(L, -3, ++n);
    if (split == std::string_view::npos) {
      lua_pushvalue(L, -4);
    } else {
      lua_pushlstring(L, value.data(), value.size());
    }
    lua_rawset(L, -4);
  }
  lua_setmetatable(L, -2);
  return 1;
}

void AppendEncoded(std::string_view text, std::string& out) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsAsciiAlphanumeric(byte) || c == '-' || c == '.' || c == '_' || c == '*') {
      out += c;
    } else {
      out += '%';
      out += Digits[byte >> 4];
      out += Digits[byte & 0xF];
    }
  }
}

struct QuerySeparators {
  std::string_view pair;
  std::string_view key;
};

// Appends the pair of the key and value at these stack indexes. The key is
// converted on a copy: lua_tolstring turns a number into a string in place,
// and a changed key in the table would break the lua_next walk.
void AppendPair(lua_State* L, int keyIndex, int valueIndex, const QuerySeparators& separators, std::string& query) {
  valueIndex = lua_absindex(L, valueIndex);
  lua_pushvalue(L, keyIndex);
  std::size_t keyLength = 0;
  const char* key = lua_tolstring(L, -1, &keyLength);
  if (!key) luaL_error(L, "query key of type %s can not be written", luaL_typename(L, -1));
  lua_pushvalue(L, valueIndex);
  std::size_t valueLength = 0;
  const char* value = lua_isstring(L, -1) ? lua_tolstring(L, -1, &valueLength) : nullptr;
  ChargeText(L, keyLength + valueLength);
  RunComponent(L, [&] {
    if (!query.empty()) query += separators.pair;
    AppendEncoded({key, keyLength}, query);
    if (!value) return;
    query += separators.key;
    AppendEncoded({value, valueLength}, query);
  });
  lua_pop(L, 2);
}

// Stack slots of SetQuery once its arguments are read.
constexpr int QueryTable = 2;
constexpr int WrittenKeys = 5;
constexpr int KeyList = 6;

// The keys that the table's metatable lists, in its order; a repeated key is
// written again. Reads are raw, like the lua_next walk that follows.
void AppendListedPairs(lua_State* L, const QuerySeparators& separators, std::string& query) {
  if (!lua_getmetatable(L, QueryTable)) return;
  const std::size_t count = lua_rawlen(L, KeyList);
  for (std::size_t i = 1; i <= count && i <= INT_MAX; ++i) {
    lua_rawgeti(L, KeyList, static_cast<int>(i));
    lua_pushvalue(L, -1);
    lua_rawget(L, QueryTable);
    if (!lua_isnil(L, -1)) {
      AppendPair(L, -2, -1, separators, query);
      lua_pushvalue(L, -2);
      lua_pushboolean(L, 1);
      lua_rawset(L, WrittenKeys);
    }
    lua_pop(L, 2);
  }
  lua_pop(L, 1);
}

void AppendRemainingPairs(lua_State* L, const QuerySeparators& separators, std::string& query) {
  lua_pushnil(L);
  while (lua_next(L, QueryTable)) {
    lua_pushvalue(L, -2);
    lua_rawget(L, WrittenKeys);
    const bool written = lua_toboolean(L, -1);
    lua_pop(L, 1);
    if (!written) AppendPair(L, -2, -1, separators, query);
    lua_pop(L, 1);
  }
}

int SetQuery(lua_State* L) {
  CheckSelf(L);
  luaL_checktype(L, QueryTable, LUA_TTABLE);
  const QuerySeparators separators{SeparatorArgument(L, 3, "&", "empty pair separator"),
                                   SeparatorArgument(L, 4, "=", "empty key separator")};
  lua_settop(L, 4);
  lua_newtable(L);  // WrittenKeys
  std::string query;
  AppendListedPairs(L, separators, query);
  AppendRemainingPairs(L, separators, query);
  ChangePart(L, query.size(), [&](ParsedUrl& url) { url.SetQuery(query); });
  return 0;
}

// ---- Other methods ---------------------------------------------------------

template <void (ParsedUrl::*Set)(std::string_view)>
int SetPart(lua_State* L) {
  CheckSelf(L);
  std::size_t length = 0;
  const char* text = luaL_checklstring(L, 2, &length);
  ChangePart(L, length, [&](ParsedUrl& url) { (url.*Set)({text, length}); });
  return 0;
}

int EraseHost(lua_State* L) {
  CheckSelf(L).url.EraseHost();
  return 0;
}

int ToString(lua_State* L) {
  UrlBox& self = CheckSelf(L);
  ChargeText(L, self.heldBytes);
  std::string text;
  RunComponent(L, [&] { text = self.url.Serialise(); });
  lua_pushlstring(L, text.data(), text.size());
  return 1;
}

// A second call (a script may call "__gc" itself) finds the object dead and
// does nothing.
int Finalise(lua_State* L) {
  if (lua_type(L, 1) == LUA_TUSERDATA && lua_rawlen(L, 1) == sizeof(UrlBox) &&
      static_cast<UrlBox*>(lua_touserdata(L, 1))->mark == DeadMark) {
    return 0;
  }
  UrlBox& self = CheckSelf(L);
  self.mark = DeadMark;
  self.url.~ParsedUrl();
  StateLimits::ReleaseExternalBytes(L, self.heldBytes);
  return 0;
}

int New(lua_State* L) {
  std::size_t length = 0;
  const char* text = luaL_checklstring(L, 1, &length);
  ChargeText(L, length);
  ParsedUrl url;
  RunComponent(L, [&] { url = ParsedUrl::Parse({text, length}); });
  PushDntParsedUrl(L, std::move(url));
  return 1;
}

constexpr luaL_Reg ParsedUrlMethods[] = {
    {"GetParts", GetParts},
    {"GetPartsRaw", GetPartsRaw},
    {"GetNamedParts", GetNamedParts},
    {"GetNamedPartsRaw", GetNamedPartsRaw},
    {"GetQuery", GetQuery},
    {"SetQuery", SetQuery},
    {"SetPath", SetPart<&ParsedUrl::SetPath>},
    {"SetFragment", SetPart<&ParsedUrl::SetFragment>},
    {"EraseHost", EraseHost},
    {"ToString", ToString},
    {"__tostring", ToString},
    {"__gc", Finalise},
    {nullptr, nullptr},
};
constexpr int MethodTableRoom = 10;
// "__tostring", "__gc", "__index" and "__metatable".
constexpr int MetatableRoom = 4;

}  // namespace

int OpenDntParsedUrl(lua_State* L) {
  // Opening again keeps the table: objects made before must still pass the
  // type check, which compares metatables by identity.
  luaL_getmetatable(L, DntParsedUrlTypeName);
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    lua_createtable(L, 0, MetatableRoom);
    lua_pushvalue(L, -1);
    lua_setfield(L, LUA_REGISTRYINDEX, DntParsedUrlTypeName);
  }
  SetProtectedMethods(L, -1, ParsedUrlMethods, MethodTableRoom);
  lua_pop(L, 1);
  lua_createtable(L, 0, 1);
  lua_pushcfunction(L, New);
  lua_setfield(L, -2, "new");
  return 1;
}

void PushDntParsedUrl(lua_State* L, ParsedUrl&& url) {
  // The metatable is fetched first: an object without it would never be
  // finalised and its strings would leak.
  luaL_getmetatable(L, DntParsedUrlTypeName);
  if (!lua_istable(L, -1)) RaiseScriptError(L, "DntParsedUrl module is not open");
  const std::size_t parsed = PartBytes(url);
  const std::size_t held = 2 * parsed + UrlOverhead;
  void* block = lua_newuserdata(L, sizeof(UrlBox));
  // Refused, the block stays a bare userdata that nothing finalises.
  StateLimits::HoldExternalBytes(L, held);
  new (block) UrlBox{LiveMark, std::move(url), parsed, held};
  lua_insert(L, -2);
  lua_setmetatable(L, -2);
}

}  // namespace dnt
