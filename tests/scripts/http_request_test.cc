#include <lua.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/http_message.h"
#include "source/scripting/http_cookies.h"
#include "source/scripting/script_http_request.h"
#include "tests/scripts/script_fixture.h"

namespace dnt {
namespace {

using ::testing::HasSubstr;

// Renders the cookie table: "name=value" pairs in the order list's order,
// then "|" and the sorted keys of the table itself.
constexpr const char* Prelude = R"(
  U = require 'DntParsedUrl'
  function cookies(t)
    local out, keys = {}, {}
    for _, name in ipairs(getmetatable(t) or {}) do out[#out + 1] = name .. '=' .. t[name] end
    for k in pairs(t) do keys[#keys + 1] = tostring(k) end
    table.sort(keys)
    return table.concat(out, ';') .. '|' .. table.concat(keys, ',')
  end
  function list(t) return table.concat(t, '|') end)";

// A controller whose query for the OK response succeeds without an object.
class EmptyOkController final : public host::HostObject<IHttpMessageController> {
 public:
  orv::result_t QueryInterface(orv::iid_t iid, void** out) override {
    if (iid != IHttpOkResponse::iid) return RefCounted::QueryInterface(iid, out);
    *out = nullptr;
    return orv::result::NoError;
  }
  orv::result_t SetForbiddenResponse(const std::string&, std::string_view) override { return orv::result::NoError; }
};

class HttpMessageTest : public ::testing::Test {
 protected:
  HttpMessageTest() : m_host(orv::ComPtr<orv::ITracer>(m_tracer.Get()), nullptr, ServiceSettings(), ScriptStage::Session) {
    EXPECT_EQ(Run(Prelude), "nil");
    // Scripts cannot reach the registry; the tests do, to try the host's own
    // checks behind that wall.
    lua_pushvalue(m_host.State(), LUA_REGISTRYINDEX);
    lua_setglobal(m_host.State(), "registry");
  }

  void NewRequest(const std::string& line, std::vector<host::HttpField> fields, bool withOkResponse = true) {
    message = std::make_shared<host::HttpMessage>(host::ParseRequestLine(line), std::move(fields));
    m_request = host::MakeRequestHeader(message);
    m_response = host::MakeResponseHeader(message);
    m_controller = host::MakeController(message, withOkResponse);
  }

  // Runs `code` with the request object (or the response object) as `...`.
  std::string Run(const std::string& code, bool response = false) {
    ScopedHttpMessage object(m_host.State());
    return testing::RunChunk(m_host.State(), code, [&](lua_State* L) {
      if (!m_request) {
        lua_pushnil(L);
      } else if (response) {
        object.PushResponse(m_response.Get(), m_controller.Get());
      } else {
        object.PushRequest(m_request.Get(), m_controller.Get());
      }
      return 1;
    });
  }

  std::shared_ptr<host::HttpMessage> message = std::make_shared<host::HttpMessage>();

  orv::ComPtr<host::CapturingTracer> m_tracer = host::MakeHostObject<host::CapturingTracer>();
  ScriptHost m_host;
  orv::ComPtr<IHttpRequestHeader> m_request;
  orv::ComPtr<IHttpResponseHeader> m_response;
  orv::ComPtr<IHttpMessageController> m_controller;
};

TEST(CookieParserTest, SplitsPairsLikeTheHostSentThem) {
  struct Case {
    std::string text;
    std::string pairs;  // name=value;... in text order, a trailing '!' marks an open quote
  };
  const Case cases[] = {
      {R"(a=1; b="x;y"; c)", R"(a=1;b="x;y";)"},
      {" a = 1 ;b=2", "a=1;b=2;"},
      {R"(a="x\"y;z"; b=1)", R"(a="x\"y;z";b=1;)"},
      {R"(a="q"junk"; x; b=2)", R"(a="q";b=2;)"},
      {R"(a="open; b=1)", R"(a="open; b=1!;)"},
      {"a=\"x\\", "a=\"x\\!;"},
      {"a=;b=   ;=v;;  ;c", "a=;b=;=v;"},
      {"\x80x=1;\x01y=2", "\x80x=1;y=2;"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string pairs;
    for (const CookiePair& pair : ParseCookies(c.text)) {
      pairs += std::string(pair.name) + "=" + std::string(pair.value) + (pair.openQuote ? "!" : "") + ";";
    }
    EXPECT_EQ(pairs, c.pairs) << c.text;
  }
}

TEST_F(HttpMessageTest, CookiesKeepTheirOrderAcrossDeleteChangeAndAdd) {
  NewRequest("GET /x HTTP/1.1", {{"Cookie", R"(a=1; b="x;y"; c; d=4)"}});
  EXPECT_EQ(Run("return cookies((...):GetCookies())"), R"(a=1;b="x;y";d=4|a,b,d)");
  EXPECT_EQ(Run("local r = ...; local t = r:GetCookies(); t.a = nil; t.d = 5; t.z = 9; r:SetCookies(t)"), "nil");
  EXPECT_EQ(message->Values("cookie"), (std::vector<std::string>{R"(b="x;y"; d=5; z=9)"}));

  // Repeated names are written once per listing, with the last value; number
  // keys are written as text and do not stop the walk.
  NewRequest("GET /x HTTP/1.1", {{"Cookie", "a=1; a=2"}});
  EXPECT_EQ(Run("local r = ...; local t = r:GetCookies(); t[7] = true; t.n = 1.5; r:SetCookies(t)"), "nil");
  const std::vector<std::string> written = message->Values("Cookie");
  ASSERT_EQ(written.size(), 1u);
  EXPECT_THAT(written[0], ::testing::StartsWith("a=2; a=2; "));
  EXPECT_THAT(written[0], HasSubstr("7="));
  EXPECT_THAT(written[0], HasSubstr("n=1.5"));

  // No field: a bare empty table, and writing it sets an empty field.
  NewRequest("GET /x HTTP/1.1", {});
  EXPECT_EQ(Run("local t = (...):GetCookies(); return tostring(getmetatable(t)) .. ',' .. tostring(next(t))"),
            "nil,nil");
  EXPECT_EQ(Run("(...):SetCookies((...):GetCookies())"), "nil");
  EXPECT_EQ(message->Values("cookie"), (std::vector<std::string>{""}));
}

TEST_F(HttpMessageTest, RequestUrlIsRebuiltFromTheHostField) {
  struct Case {
    std::string target;
    std::vector<host::HttpField> fields;
    std::string url;  // "text|hostFromHeader", or a part of the error
  };
  const Case cases[] = {
      {"http://a.test/x?q", {{"Host", "other.test"}}, "http://a.test/x?q|false"},
      {"url:http://a.test/x", {}, "url:http://a.test/x|false"},
      {"/p?q=1", {{"host", "h.test"}}, "h.test/p?q=1|true"},
      {"/p", {{"Host", "h.test:8080"}}, "h.test:8080/p|true"},
      {"/p", {{"Host", "[::1]:8080"}}, "[::1]:8080/p|true"},
      {"/p", {{"Host", "[::1]"}}, "[::1]/p|true"},
      {"/p", {{"Host", "::1"}}, "[::1]/p|true"},
      {"/p", {}, "error: 0x8000004c (Not found)"},
      {"http://[::1", {}, "error: Host name is specified the IPv6 address, which is not closed by ']'"},
  };
  for (const Case& c : cases) {
    NewRequest("GET " + c.target + " HTTP/1.1", c.fields);
    const std::string url = Run("local u, h = (...):GetRequestUrl(); return u .. '|' .. tostring(h)");
    if (c.url.starts_with("error: ")) {
      EXPECT_THAT(url, HasSubstr(c.url.substr(7))) << c.target;
    } else {
      EXPECT_EQ(url, c.url) << c.target;
    }
  }
}

TEST_F(HttpMessageTest, RequestUrlIsSetFromTextNumbersAndParsedUrls) {
  NewRequest("GET /x HTTP/1.1", {});
  EXPECT_EQ(Run("(...):SetRequestUrl(42)"), "nil");
  EXPECT_EQ(message->Line().url, "42");
  EXPECT_EQ(Run("(...):SetRequestUrl(U.new('HTTP://b.test/y'))"), "nil");
  EXPECT_EQ(message->Line().url, "HTTP://b.test/y");
  EXPECT_EQ(Run("return select(3, (...):GetRequestLine())"), "HTTP/1.1");

  EXPECT_THAT(Run("(...):SetRequestUrl(io.stdout)"), HasSubstr("to 'SetRequestUrl' (DntParsedUrl "
                                                                 "expected, got userdata)"));
  EXPECT_THAT(Run("(...):SetRequestUrl({})"), HasSubstr("string expected, got table"));
  EXPECT_THAT(Run("local mt = registry.DntParsedUrl; local old = mt.__tostring; mt.__tostring = function() "
                  "return {} end; local ok, e = pcall((...).SetRequestUrl, ..., U.new('x')); mt.__tostring = old; "
                  "error(e)"),
              HasSubstr("'__tostring' must return a string"));
  EXPECT_THAT(Run("local mt = registry.DntParsedUrl; local old = mt.__tostring; mt.__tostring = nil; "
                  "local ok, e = pcall((...).SetRequestUrl, ..., U.new('x')); mt.__tostring = old; error(e)"),
              HasSubstr("DntParsedUrl has no '__tostring'"));
  EXPECT_EQ(message->Line().url, "HTTP://b.test/y");
}

TEST_F(HttpMessageTest, FieldsReadAbsentValuesAsNothingAndWriteEveryValue) {
  NewRequest("GET /x HTTP/1.1", {{"Accept", "a"}, {"X-Two", "1"}, {"x-two", "2"}});
  EXPECT_EQ(Run("return tostring((...):GetField('Missing'))"), "nil");
  EXPECT_EQ(Run("return #(...):GetFieldValues('Missing')"), "0");
  EXPECT_EQ(Run("return list((...):GetFieldValues('X-TWO'))"), "1|2");
  EXPECT_THAT(Run("(...):RemoveField('Missing')"), HasSubstr("0x8000004c (Not found)"));

  EXPECT_EQ(Run("(...):SetFieldValues('X-Two', {1.5, 'b', true})"), "nil");
  EXPECT_EQ(message->Values("x-two"), (std::vector<std::string>{"1.5", "b", ""}));
  EXPECT_EQ(Run("(...):SetFieldValues('X-Two', setmetatable({'a'}, {__len = function() return 3 end}))"), "nil");
  EXPECT_EQ(message->Values("x-two"), (std::vector<std::string>{"a", "", ""}));
  EXPECT_THAT(Run("(...):SetFieldValues('X-Two', setmetatable({}, {__len = function() return 2^40 end}))"),
              HasSubstr("claims"));
  EXPECT_THAT(Run("(...):SetFieldValues('X-Two', setmetatable({}, {__len = function() return 'x' end}))"),
              HasSubstr("object length is not a number"));
  EXPECT_EQ(Run("(...):SetField(1, 2); (...):RemoveField('Accept')"), "nil");
  EXPECT_EQ(message->Fields(), (std::vector<host::HttpField>{{"X-Two", "a"}, {"X-Two", ""}, {"X-Two", ""}, {"1", "2"}}));
}

TEST_F(HttpMessageTest, HostFailuresBecomeErrorsNamingTheCode) {
  const std::pair<host::HttpOperation, std::string> cases[] = {
      {host::HttpOperation::GetRequestLine, "(...):GetRequestLine()"},
      {host::HttpOperation::GetRequestLine, "(...):GetRequestUrl()"},
      {host::HttpOperation::SetRequestUrl, "(...):SetRequestUrl('x')"},
      {host::HttpOperation::GetField, "(...):GetField('a')"},
      {host::HttpOperation::GetField, "(...):GetCookies()"},
      {host::HttpOperation::SetField, "(...):SetField('a', 'b')"},
      {host::HttpOperation::SetField, "(...):SetCookies({})"},
      {host::HttpOperation::RemoveField, "(...):RemoveField('a')"},
      {host::HttpOperation::GetFieldValues, "(...):GetFieldValues('a')"},
      {host::HttpOperation::SetFieldValues, "(...):SetFieldValues('a', {})"},
      {host::HttpOperation::SetForbiddenResponse, "(...):SetForbiddenResponse('a', 'b')"},
      {host::HttpOperation::SetOkResponse, "(...):SetOkResponse('a', 'b')"},
  };
  for (const auto& [operation, code] : cases) {
    NewRequest("GET /x HTTP/1.1", {{"a", "1"}});
    message->Fail(operation, orv::result::AccessDenied);
    EXPECT_THAT(Run(code), HasSubstr("0x80000045 (Access denied)")) << code;
  }
}

TEST_F(HttpMessageTest, ResponsesAreRecordedOnlyWhereTheHostOffersThem) {
  NewRequest("GET /x HTTP/1.1", {});
  EXPECT_EQ(Run("local r = ...; r:SetForbiddenResponse('403', 'body'); r:SetOkResponse(1, '');"
                "return r:IsSetOkResponseAvailable()"),
            "true");
  EXPECT_EQ(message->ForbiddenResponse(), (host::HttpResponseTexts{"403", "body"}));
  EXPECT_EQ(message->OkResponse(), (host::HttpResponseTexts{"1", ""}));

  NewRequest("GET /x HTTP/1.1", {}, false);
  EXPECT_EQ(Run("return (...):IsSetOkResponseAvailable()"), "false");
  EXPECT_THAT(Run("(...):SetOkResponse('a', 'b')"),
              HasSubstr("SetOkResoponse() is not available: 0x80000001 (Interface not supported)"));
  message->Fail(host::HttpOperation::QueryOkResponse, orv::result::NotReady);
  EXPECT_THAT(Run("(...):SetOkResponse('a', 'b')"), HasSubstr("0x80000063 (Not ready)"));
  EXPECT_FALSE(message->OkResponse());

  m_controller = host::MakeHostObject<EmptyOkController>();
  EXPECT_EQ(Run("return (...):IsSetOkResponseAvailable()"), "false");
  EXPECT_THAT(Run("(...):SetOkResponse('a', 'b')"), HasSubstr("SetOkResoponse() is not available"));
}

TEST_F(HttpMessageTest, ResponseObjectsOfferOnlyTheSharedMethods) {
  NewRequest("GET /x HTTP/1.1", {{"Set-Cookie", "a=1"}});
  EXPECT_EQ(Run("return (...):GetField('set-cookie')", true), "a=1");
  EXPECT_THAT(Run("return (...):GetCookies()", true), HasSubstr("attempt to call method 'GetCookies' (a nil value)"));
  // Nor can it be dressed as a request: library objects keep their metatables.
  EXPECT_THAT(Run("local r = ...; debug.setmetatable(r, registry['Dnt::HttpRequest']);"
                  "return r:GetRequestLine()",
                  true),
              HasSubstr("base scripts cannot change the metatable of a library object"));
  EXPECT_THAT(Run("return registry['Dnt::HttpRequest'].__index.GetRequestLine(...)", true),
              HasSubstr("proper object self parameter is required"));
}

// What a script hands the host counts against the session's memory cap
// while it works on the message: 300 values of 1 MiB never reach the host.
TEST_F(HttpMessageTest, HandedValuesCountAgainstTheMemoryCap) {
  NewRequest("GET /x HTTP/1.1", {});
  EXPECT_THAT(Run("local v = string.rep('v', 2^20) for i = 1, 300 do (...):SetField('X-' .. i, v) end"),
              HasSubstr("not enough memory"));
  EXPECT_LT(message->Fields().size(), 64u);
  m_host.RestartInstructionBudget();  // as the next entry call does
  EXPECT_EQ(Run("(...):SetField('X-1', 'small') return (...):GetField('X-1')"), "small");
}

TEST_F(HttpMessageTest, ForeignOrKeptObjectsNeverReachTheHost) {
  NewRequest("GET /x HTTP/1.1", {{"a", "1"}});
  EXPECT_THAT(Run("return (...).GetField({}, 'a')"), HasSubstr("proper object self parameter is required"));
  EXPECT_THAT(Run("return (...).GetField(DntEngine, 'a')"), HasSubstr("proper object self parameter is required"));

  EXPECT_EQ(Run("kept = ...; return kept:GetField('a')"), "1");
  for (const char* use : {"kept:GetField('a')", "kept:GetCookies()", "kept:SetOkResponse('a', 'b')"}) {
    EXPECT_THAT(Run(use), HasSubstr("kept beyond the call that received it")) << use;
  }

  // A script that drops the pin lets the object be collected: ending the
  // call must not write into it then.
  lua_State* L = m_host.State();
  {
    ScopedHttpMessage object(L);
    const std::string unpin =
        "local r = ...; for k, v in pairs(registry) do if v == r then registry[k] = nil end end";
    ASSERT_EQ(luaL_loadbuffer(L, unpin.data(), unpin.size(), "=test"), LUA_OK);
    object.PushRequest(m_request.Get(), m_controller.Get());
    ASSERT_EQ(lua_pcall(L, 1, 0, 0), LUA_OK);
    lua_gc(L, LUA_GCCOLLECT, 0);
  }
}

}  // namespace
}  // namespace dnt
