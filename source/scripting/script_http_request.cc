#include "source/scripting/script_http_request.h"

#include <lua.hpp>

#include <climits>
#include <initializer_list>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "orv/com_ptr.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/text/utf.h"
#include "source/scripting/dnt_parsed_url.h"
#include "source/scripting/http_cookies.h"
#include "source/scripting/request_url.h"
#include "source/scripting/script_errors.h"
#include "source/scripting/state_limits.h"

namespace dnt {
namespace {

constexpr const char* HttpRequestLocation = "script_http_request";
constexpr const char* CookieField = "cookie";
// "__len" may leave a few nil holes past the raw length (they become empty
// values), but no more: a claimed length of billions must not run a loop.
constexpr lua_Number MaxHolesPastRawLength = 1024;

// What a message userdata holds. The destructor of its ScopedHttpMessage
// nulls both once the call that received it has returned.
struct MessageBox {
  IHttpHeader* header;
  IHttpMessageController* controller;
};
static_assert(sizeof(MessageBox) == 2 * sizeof(void*));

// The live messages of this thread: a script can dress any userdata in a
// method table (debug.setmetatable), so only this list tells a request from a
// response.
thread_local ScopedHttpMessage* t_liveMessages = nullptr;

// The registry key (its address) of the table that pins the live message
// objects of a state. A table of their own: pinned in the registry itself,
// each call added a key to it and made it grow and rehash every few calls.
const char PinsKey = 0;

// Pushes the state's pins table, made on first use (or when a script put
// something else in its place).
void PushPins(lua_State* L) {
  lua_rawgetp(L, LUA_REGISTRYINDEX, &PinsKey);
  if (lua_istable(L, -1)) return;
  lua_pop(L, 1);
  lua_createtable(L, 0, 1);
  lua_pushvalue(L, -1);
  lua_rawsetp(L, LUA_REGISTRYINDEX, &PinsKey);
}

// ---- Arguments and errors --------------------------------------------------

MessageBox& CheckMessage(lua_State* L) {
  void* block = lua_touserdata(L, 1);
  const bool typed = luaL_testudata(L, 1, HttpRequestTypeName) || luaL_testudata(L, 1, HttpResponseTypeName);
  if (!typed || lua_type(L, 1) != LUA_TUSERDATA || lua_rawlen(L, 1) != sizeof(MessageBox)) {
    RaiseScriptError(L, "proper object self parameter is required");
  }
  auto& box = *static_cast<MessageBox*>(block);
  if (!box.header || !box.controller) {
    RaiseScriptError(L, "the HTTP message object was kept beyond the call that received it");
  }
  return box;
}

IHttpRequestHeader& CheckRequest(lua_State* L) {
  MessageBox& box = CheckMessage(L);
  if (!ScopedHttpMessage::IsLiveRequest(&box)) RaiseScriptError(L, "proper object self parameter is required");
  return *static_cast<IHttpRequestHeader*>(box.header);
}

std::string_view CheckText(lua_State* L, int index) {
  std::size_t length = 0;
  const char* text = luaL_checklstring(L, index, &length);
  return {text, length};
}

// The description a trace line would show, so that the script sees the
// result code and its text.
std::string DescribeForScript(const orv::Exception& e) {
  std::string text = orv::text::ToUtf8(e.GetDescription());
  text += ". At ";
  text += e.File() ? e.File() : "(null)";
  text += "(" + std::to_string(e.Line()) + ")";
  return text;
}

// Runs host calls; their failures become Lua errors once the try is left.
template <class Work>
void RunHost(lua_State* L, Work&& work) {
  RunComponent(L, [&] {
    try {
      work();
    } catch (const orv::Exception& e) {
      throw std::runtime_error(DescribeForScript(e));
    }
  });
}

void Check(orv::result_t code, int line) { orv::CheckResult(code, HttpRequestLocation, line); }

// The combined value of `name` into `value`; false when the host has no such
// field, which is no failure.
bool ReadField(IHttpHeader& header, std::string_view name, std::string& value) {
  const orv::result_t code = header.GetField(name, &value);
  if (code == orv::result::NotFound) return false;
  Check(code, __LINE__);
  return true;
}

// ---- Values as text ----------------------------------------------------------

// Replaces the top value by its text: strings and numbers as lua_tolstring
// gives them, anything else as "". Works on a stack copy, never on a table key.
void ToText(lua_State* L) {
  const int type = lua_type(L, -1);
  if (type == LUA_TNUMBER) {
    lua_tolstring(L, -1, nullptr);
  } else if (type != LUA_TSTRING) {
    lua_pop(L, 1);
    lua_pushliteral(L, "");
  }
}

// Appends the text of the value at `index` to the array at `list`.
void AppendText(lua_State* L, int list, int index, int& count) {
  lua_pushvalue(L, index);
  ToText(L);
  lua_rawseti(L, list, ++count);
}

// What the host will keep of the strings given to it: they count against
// the state's memory cap while the script runs on this message.
void ChargeHanded(lua_State* L, std::initializer_list<std::string_view> texts) {
  std::size_t bytes = 0;
  for (const std::string_view text : texts) bytes += text.size();
  StateLimits::ChargeHandedBytes(L, bytes);
}

// The same for elements 1..count of the array of strings at `list`.
void ChargeHandedTexts(lua_State* L, int list, int count) {
  for (int i = 1; i <= count; ++i) {
    lua_rawgeti(L, list, i);
    StateLimits::ChargeHandedBytes(L, lua_rawlen(L, -1));
    lua_pop(L, 1);
  }
}

// Elements 1..count of the array at `list`, all strings already: raw reads
// that raise nothing, so they can run inside RunHost.
StringList ReadTexts(lua_State* L, int list, int count) {
  StringList texts;
  for (int i = 1; i <= count; ++i) {
    lua_rawgeti(L, list, i);
    std::size_t length = 0;
    const char* text = lua_tolstring(L, -1, &length);
    texts.emplace_back(text, length);
    lua_pop(L, 1);
  }
  return texts;
}

// The length of the table at `index` as "__len" gives it, bounded by what
// the table holds.
int CheckValueCount(lua_State* L, int index) {
  lua_len(L, index);
  int isNumber = 0;
  const lua_Number claimed = lua_tonumberx(L, -1, &isNumber);
  lua_pop(L, 1);
  if (!isNumber) luaL_error(L, "object length is not a number");
  const auto raw = static_cast<lua_Number>(lua_rawlen(L, index));
  if (!(claimed <= raw + MaxHolesPastRawLength) || claimed > INT_MAX) {
    luaL_error(L, "the values table claims %f elements but holds %d", claimed, static_cast<int>(raw));
  }
  return claimed < 1 ? 0 : static_cast<int>(claimed);
}

void PushStringList(lua_State* L, const StringList& values) {
  if (values.size() > INT_MAX) RaiseScriptError(L, "too many field values");
  lua_createtable(L, static_cast<int>(values.size()), 0);
  int i = 0;
  for (const std::string& value : values) {
    lua_pushlstring(L, value.data(), value.size());
    lua_rawseti(L, -2, ++i);
  }
}

// ---- Request line and URL ----------------------------------------------------

int GetRequestLine(lua_State* L) {
  IHttpRequestHeader& header = CheckRequest(L);
  HttpRequestLine line;
  RunHost(L, [&] { Check(header.GetRequestLine(&line), __LINE__); });
  lua_pushlstring(L, line.url.data(), line.url.size());
  lua_pushlstring(L, line.method.data(), line.method.size());
  lua_pushlstring(L, line.version.data(), line.version.size());
  return 3;
}

int GetRequestUrl(lua_State* L) {
  IHttpRequestHeader& header = CheckRequest(L);
  RequestUrl url;
  RunHost(L, [&] { url = ResolveRequestUrl(header); });
  lua_pushlstring(L, url.text.data(), url.text.size());
  lua_pushboolean(L, url.hostFromHeader);
  return 2;
}

// Argument 2 as URL text: a string or number, or a DntParsedUrl through its
// "__tostring", whatever a script made of that.
std::string_view CheckUrlText(lua_State* L) {
  const int type = lua_type(L, 2);
  if (type != LUA_TUSERDATA && type != LUA_TLIGHTUSERDATA) return CheckText(L, 2);
  if (!luaL_testudata(L, 2, DntParsedUrlTypeName)) {
    luaL_argerror(L, 2, lua_pushfstring(L, "%s expected, got %s", DntParsedUrlTypeName, luaL_typename(L, 2)));
  }
  if (!luaL_callmeta(L, 2, "__tostring")) {
    RunHost(L, [] { throw orv::CheckFailedException(HttpRequestLocation, __LINE__, u"DntParsedUrl has no '__tostring'"); });
  }
  if (!lua_isstring(L, -1)) luaL_error(L, "'__tostring' must return a string");
  std::size_t length = 0;
  const char* text = lua_tolstring(L, -1, &length);  // stays on the stack for the method
  return {text, length};
}

int SetRequestUrl(lua_State* L) {
  IHttpRequestHeader& header = CheckRequest(L);
  const std::string_view url = CheckUrlText(L);
  ChargeHanded(L, {url});
  RunHost(L, [&] { Check(header.SetRequestUrl(url), __LINE__); });
  return 0;
}

// ---- Fields ----------------------------------------------------------------

int GetField(lua_State* L) {
  IHttpHeader& header = *CheckMessage(L).header;
  const std::string_view name = CheckText(L, 2);
  std::string value;
  bool found = false;
  RunHost(L, [&] { found = ReadField(header, name, value); });
  if (found) {
    lua_pushlstring(L, value.data(), value.size());
  } else {
    lua_pushnil(L);
  }
  return 1;
}

int SetField(lua_State* L) {
  IHttpHeader& header = *CheckMessage(L).header;
  const std::string_view name = CheckText(L, 2);
  const std::string_view value = CheckText(L, 3);
  ChargeHanded(L, {name, value});
  RunHost(L, [&] { Check(header.SetField(name, value), __LINE__); });
  return 0;
}

int RemoveField(lua_State* L) {
  IHttpHeader& header = *CheckMessage(L).header;
  const std::string_view name = CheckText(L, 2);
  RunHost(L, [&] { Check(header.RemoveField(name), __LINE__); });
  return 0;
}

int GetFieldValues(lua_State* L) {
  IHttpHeader& header = *CheckMessage(L).header;
  const std::string_view name = CheckText(L, 2);
  StringList values;
  RunHost(L, [&] {
    const orv::result_t code = header.GetFieldValues(name, &values);
    if (code == orv::result::NotFound) {
      values.clear();
      return;
    }
    Check(code, __LINE__);
  });
  PushStringList(L, values);
  return 1;
}

int SetFieldValues(lua_State* L) {
  IHttpHeader& header = *CheckMessage(L).header;
  const std::string_view name = CheckText(L, 2);
  luaL_checktype(L, 3, LUA_TTABLE);
  const int count = CheckValueCount(L, 3);
  lua_settop(L, 3);
  lua_newtable(L);  // 4: the values as text
  int texts = 0;
  for (int i = 1; i <= count; ++i) {
    lua_rawgeti(L, 3, i);
    AppendText(L, 4, lua_gettop(L), texts);
    lua_pop(L, 1);
  }
  ChargeHanded(L, {name});
  ChargeHandedTexts(L, 4, texts);
  RunHost(L, [&] { Check(header.SetFieldValues(name, ReadTexts(L, 4, texts)), __LINE__); });
  return 0;
}

// ---- Cookies ----------------------------------------------------------------

// T[name] = value (the last one wins), with the names in text order as T's
// metatable; no pairs give a bare empty table.
void PushCookieTable(lua_State* L, const std::vector<CookiePair>& pairs) {
  const int count = pairs.size() > INT_MAX ? INT_MAX : static_cast<int>(pairs.size());
  lua_createtable(L, 0, count);
  if (count == 0) return;
  lua_createtable(L, count, 0);
  for (int i = 0; i < count; ++i) {
    lua_pushlstring(L, pairs[i].name.data(), pairs[i].name.size());
    lua_pushvalue(L, -1);
    lua_rawseti(L, -3, i + 1);
    lua_pushlstring(L, pairs[i].value.data(), pairs[i].value.size());
    lua_rawset(L, -4);
  }
  lua_setmetatable(L, -2);
}

int GetCookies(lua_State* L) {
  IHttpRequestHeader& header = CheckRequest(L);
  std::string text;
  std::vector<CookiePair> pairs;
  RunHost(L, [&] {
    if (ReadField(header, CookieField, text)) pairs = ParseCookies(text);
  });
  PushCookieTable(L, pairs);
  return 1;
}

// Stack slots of SetCookies once its argument is checked.
constexpr int Cookies = 2;
constexpr int WrittenNames = 3;
constexpr int Texts = 4;
constexpr int OrderList = 5;

void RememberWritten(lua_State* L, int name) {
  // nil and NaN cannot be table keys, so lua_next never meets them anyway.
  if (lua_isnil(L, name) || (lua_type(L, name) == LUA_TNUMBER && lua_tonumber(L, name) != lua_tonumber(L, name))) {
    return;
  }
  lua_pushvalue(L, name);
  lua_pushboolean(L, 1);
  lua_rawset(L, WrittenNames);
}

bool WasWritten(lua_State* L, int name) {
  lua_pushvalue(L, name);
  lua_rawget(L, WrittenNames);
  const bool written = lua_toboolean(L, -1);
  lua_pop(L, 1);
  return written;
}

// The cookies the order list names, in its order; values are read with
// metamethods, as a script would read them.
void CollectListedCookies(lua_State* L, int& texts) {
  if (!lua_getmetatable(L, Cookies)) return;
  const std::size_t count = lua_rawlen(L, OrderList);
  for (std::size_t i = 1; i <= count && i <= INT_MAX; ++i) {
    lua_rawgeti(L, OrderList, static_cast<int>(i));
    const int name = lua_gettop(L);
    lua_pushvalue(L, name);
    lua_gettable(L, Cookies);
    if (!lua_isnil(L, -1)) {
      AppendText(L, Texts, name, texts);
      AppendText(L, Texts, name + 1, texts);
      RememberWritten(L, name);
    }
    lua_pop(L, 2);
  }
  lua_pop(L, 1);
}

void CollectRemainingCookies(lua_State* L, int& texts) {
  lua_pushnil(L);
  while (lua_next(L, Cookies)) {
    const int name = lua_gettop(L) - 1;
    if (!WasWritten(L, name)) {
      AppendText(L, Texts, name, texts);
      AppendText(L, Texts, name + 1, texts);
    }
    lua_pop(L, 1);
  }
}

// name=value pairs from the alternating texts, joined by "; ".
std::string JoinCookies(const StringList& texts) {
  std::string text;
  for (std::size_t i = 0; i + 1 < texts.size(); i += 2) {
    if (!text.empty()) text += "; ";
    text += texts[i];
    text += '=';
    text += texts[i + 1];
  }
  return text;
}

int SetCookies(lua_State* L) {
  IHttpRequestHeader& header = CheckRequest(L);
  luaL_checktype(L, Cookies, LUA_TTABLE);
  lua_settop(L, Cookies);
  lua_newtable(L);  // WrittenNames
  lua_newtable(L);  // Texts
  int texts = 0;
  CollectListedCookies(L, texts);
  CollectRemainingCookies(L, texts);
  ChargeHandedTexts(L, Texts, texts);
  RunHost(L, [&] { Check(header.SetField(CookieField, JoinCookies(ReadTexts(L, Texts, texts))), __LINE__); });
  return 0;
}

// ---- Responses ----------------------------------------------------------------

// The controller's OK-response interface, or null with `code` telling why (a
// query that succeeds without an object counts as "not supported").
orv::ComPtr<IHttpOkResponse> QueryOkResponse(IHttpMessageController& controller, orv::result_t& code) {
  orv::ComPtr<IHttpOkResponse> ok;
  code = controller.QueryInterface(IHttpOkResponse::iid, ok.PutVoid());
  if (code == orv::result::NoError && ok) return ok;
  if (!orv::Failed(code)) code = orv::result::InterfaceNotSupported;
  return {};  // `ok`, whatever the query left in it, is released here
}

int SetForbiddenResponse(lua_State* L) {
  IHttpMessageController& controller = *CheckMessage(L).controller;
  const std::string_view first = CheckText(L, 2);
  const std::string_view second = CheckText(L, 3);
  ChargeHanded(L, {first, second});
  RunHost(L, [&] { Check(controller.SetForbiddenResponse(std::string(first), second), __LINE__); });
  return 0;
}

int SetOkResponse(lua_State* L) {
  IHttpMessageController& controller = *CheckMessage(L).controller;
  const std::string_view first = CheckText(L, 2);
  const std::string_view second = CheckText(L, 3);
  ChargeHanded(L, {first, second});
  RunHost(L, [&] {
    orv::result_t code = orv::result::NoError;
    const orv::ComPtr<IHttpOkResponse> ok = QueryOkResponse(controller, code);
    if (!ok) throw orv::CheckResultFailedException(HttpRequestLocation, __LINE__, code, u"SetOkResoponse() is not available");
    Check(ok->SetOkResponse(std::string(first), second), __LINE__);
  });
  return 0;
}

int IsSetOkResponseAvailable(lua_State* L) {
  IHttpMessageController& controller = *CheckMessage(L).controller;
  bool available = false;
  RunHost(L, [&] {
    orv::result_t code = orv::result::NoError;
    available = static_cast<bool>(QueryOkResponse(controller, code));
  });
  lua_pushboolean(L, available);
  return 1;
}

// ---- Method tables -------------------------------------------------------------

constexpr luaL_Reg RequestMethods[] = {
    {"GetRequestLine", GetRequestLine},
    {"GetRequestUrl", GetRequestUrl},
    {"SetRequestUrl", SetRequestUrl},
    {"GetField", GetField},
    {"SetField", SetField},
    {"RemoveField", RemoveField},
    {"GetFieldValues", GetFieldValues},
    {"SetFieldValues", SetFieldValues},
    {"GetCookies", GetCookies},
    {"SetCookies", SetCookies},
    {"SetForbiddenResponse", SetForbiddenResponse},
    {"SetOkResponse", SetOkResponse},
    {"IsSetOkResponseAvailable", IsSetOkResponseAvailable},
    {nullptr, nullptr},
};

constexpr luaL_Reg ResponseMethods[] = {
    {"GetField", GetField},
    {"SetField", SetField},
    {"RemoveField", RemoveField},
    {"GetFieldValues", GetFieldValues},
    {"SetFieldValues", SetFieldValues},
    {"SetForbiddenResponse", SetForbiddenResponse},
    {"SetOkResponse", SetOkResponse},
    {"IsSetOkResponseAvailable", IsSetOkResponseAvailable},
    {nullptr, nullptr},
};

constexpr HttpMessageType Types[] = {
    {HttpRequestTypeName, RequestMethods, static_cast<int>(std::size(RequestMethods)) - 1},
    {HttpResponseTypeName, ResponseMethods, static_cast<int>(std::size(ResponseMethods)) - 1},
};

}  // namespace

std::span<const HttpMessageType> HttpMessageTypes() noexcept { return Types; }

// ---- ScopedHttpMessage ----------------------------------------------------------

ScopedHttpMessage::~ScopedHttpMessage() { End(); }

void ScopedHttpMessage::PushRequest(IHttpRequestHeader* header, IHttpMessageController* controller) {
  Push(header, controller, true);
}

void ScopedHttpMessage::PushResponse(IHttpResponseHeader* header, IHttpMessageController* controller) {
  Push(header, controller, false);
}

void ScopedHttpMessage::Push(IHttpHeader* header, IHttpMessageController* controller, bool request) {
  lua_State* L = m_state;
  End();
  if (!header || !controller) RaiseScriptError(L, "an HTTP message object needs a header and a controller");
  void* block = lua_newuserdata(L, sizeof(MessageBox));
  new (block) MessageBox{nullptr, nullptr};
  luaL_getmetatable(L, request ? HttpRequestTypeName : HttpResponseTypeName);
  if (!lua_istable(L, -1)) RaiseScriptError(L, "the HTTP message tables are not open");
  lua_setmetatable(L, -2);
  PushPins(L);
  lua_pushvalue(L, -2);
  lua_rawsetp(L, -2, block);
  lua_pop(L, 1);
  // Pinned: nothing below can fail, so the host pointers never sit in an
  // object that nobody will clear.
  *static_cast<MessageBox*>(block) = MessageBox{header, controller};
  m_block = block;
  m_request = request;
  m_next = t_liveMessages;
  t_liveMessages = this;
}

void ScopedHttpMessage::End() noexcept {
  if (!m_block) return;
  for (ScopedHttpMessage** link = &t_liveMessages; *link; link = &(*link)->m_next) {
    if (*link == this) {
      *link = m_next;
      break;
    }
  }
  // A script with the debug library can drop the pin and let the object be
  // collected: touch the block only while the pins table still holds it.
  // Reading and clearing an existing key allocates nothing, so nothing here
  // can raise.
  lua_State* L = m_state;
  lua_rawgetp(L, LUA_REGISTRYINDEX, &PinsKey);
  if (lua_istable(L, -1)) {
    lua_rawgetp(L, -1, m_block);
    const bool pinned = lua_type(L, -1) == LUA_TUSERDATA && lua_touserdata(L, -1) == m_block &&
                        lua_rawlen(L, -1) == sizeof(MessageBox);
    lua_pop(L, 1);
    if (pinned) {
      *static_cast<MessageBox*>(m_block) = MessageBox{nullptr, nullptr};
      lua_pushnil(L);
      lua_rawsetp(L, -2, m_block);
    }
  }
  lua_pop(L, 1);
  m_block = nullptr;
}

bool ScopedHttpMessage::IsLiveRequest(const void* block) noexcept {
  for (const ScopedHttpMessage* message = t_liveMessages; message; message = message->m_next) {
    if (message->m_block == block) return message->m_request;
  }
  return false;
}

}  // namespace dnt
