#include "source/scripting/dnt_parsed_url.h"

#include <lauxlib.h>
#include <lua.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/scripts/script_fixture.h"

namespace dnt {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

// Helpers the snippets share: U is the module, list() and named() render
// result tables, err() runs a function and gives its error message.
constexpr const char* Prelude = R"(
  U = require 'DntParsedUrl'
  function list(t)
    local out = {}
    for i = 1, #t do out[i] = tostring(t[i]) end
    return table.concat(out, '|')
  end
  function named(t)
    local out = {}
    for k, v in pairs(t) do out[#out + 1] = k .. '=' .. tostring(v) end
    table.sort(out)
    return table.concat(out, ',')
  end
  function err(f, ...) return select(2, pcall(f, ...)) end)";

// A session needs a context, but DntParsedUrl makes no engine calls. (The
// discovery stage's pool allocator is far too slow for the big tables here.)
class NoBasesContext final : public IScriptEngineContext {
 public:
  const Bases& GetBases() const override { throw std::logic_error("no bases in this test"); }
  const ServiceSettings& GetSettings() const override { return m_settings; }

 private:
  ServiceSettings m_settings;
};

class DntParsedUrlTest : public ::testing::Test {
 protected:
  DntParsedUrlTest()
      : m_host(orv::ComPtr<orv::ITracer>(tracer.Get()), &m_context, ServiceSettings(), ScriptStage::Session) {
    // Every host opens the module itself, for require only.
    EXPECT_EQ(Run(Prelude), "nil");
    EXPECT_EQ(Run("return DntParsedUrl"), "nil");
    // Scripts cannot reach the registry; the tests do, to try the host's own
    // checks behind that wall.
    lua_pushvalue(m_host.State(), LUA_REGISTRYINDEX);
    lua_setglobal(m_host.State(), "registry");
  }

  std::string Run(const std::string& code) {
    return testing::RunChunk(m_host.State(), code, [](lua_State*) { return 0; });
  }

  orv::ComPtr<host::CapturingTracer> tracer = host::MakeHostObject<host::CapturingTracer>();
  NoBasesContext m_context;
  ScriptHost m_host;
};

TEST_F(DntParsedUrlTest, PartsAreNormalisedByKind) {
  Run("u = U.new('http://Ex.Test/%7Euser/a//b?q=%2F')");
  EXPECT_EQ(Run("return list(u:GetParts())"), "http||ex.test||~user/a/b|q=/|");
  EXPECT_EQ(Run("return list(u:GetParts(nil))"), "http||ex.test||~user/a/b|q=/|");
  EXPECT_EQ(Run("return list(u:GetPartsRaw())"), "http||Ex.Test||%7Euser/a//b|q=%2F|");
  // Escapes outside a kind's set stay; the lowercase kind folds their digits.
  Run("v = U.new('HTTP://u:P@A%2fB%41.Test:81//%2F%3B//%7e#F%41%23')");
  EXPECT_EQ(Run("return named(v:GetNamedParts())"),
            "fragment=FA%23,host=a%2fba.test,path=%2F;/~,port=81,query=,scheme=http,user=u:P");
  EXPECT_EQ(Run("return named(v:GetNamedPartsRaw('p#hh'))"), "fragment=F%41%23,host=A%2fB%41.Test,path=/%2F%3B//%7e");
  // Specificators end at the first zero byte.
  EXPECT_EQ(Run("return list(u:GetParts('h\\0s'))"), "ex.test");
}

TEST_F(DntParsedUrlTest, UnknownSpecificatorsAreTracedNotFatal) {
  Run("u = U.new('http://h.test/')");
  EXPECT_EQ(Run("return named(u:GetNamedParts('hx'))"), "host=h.test");
  EXPECT_EQ(Run("return list(u:GetParts('hx'))"), "h.test|false");
  EXPECT_THAT(tracer->Texts(500), ElementsAre("test:1: Unsupported URL part specificator 'x'",
                                              "test:1: Unsupported URL part specificator 'x'"));
  // A long hostile specificator string gives one field per known row only.
  tracer->SetThreshold(400);
  EXPECT_EQ(Run("return named(u:GetNamedParts(string.rep('hz', 100000)))"), "host=h.test");
  EXPECT_EQ(tracer->Texts(500).size(), 2u);
  EXPECT_EQ(Run("local r = registry local host = r.DntEngine r.DntEngine = nil "
                "local e = err(u.GetParts, u, 'x') r.DntEngine = host return e"),
            "unexpected fatal error: script engine not found");
}

TEST_F(DntParsedUrlTest, QueryRoundTripKeepsOrderAndRepeats) {
  Run("u = U.new('http://h.test/p?a=1&b&a=2&c=') q = u:GetQuery()");
  EXPECT_EQ(Run("return q.a .. '|' .. tostring(q.b) .. '|[' .. q.c .. ']|' .. table.concat(getmetatable(q), ',')"),
            "2|false|[]|a,b,a,c");
  EXPECT_EQ(Run("q.a = 'x y' q.z = 'new' u:SetQuery(q) return u:ToString()"),
            "http://h.test/p?a=x%20y&b&a=x%20y&c=&z=new");
  EXPECT_EQ(Run("return named(U.new('h.test/?k=a+b%41%zz%4&&x'):GetQuery())"), "=false,k=a bA%zz%4,x=false");
  EXPECT_EQ(Run("return named(U.new('h.test/?x:1;;y;'):GetQuery(';;', ':'))"), "x=1,y;=false");
  EXPECT_EQ(Run("return named(U.new('h.test/?a2b1c'):GetQuery(1, 2))"), "a=b,c=false");
  EXPECT_EQ(Run("local t = U.new('h.test/'):GetQuery() return tostring(next(t) == nil and getmetatable(t) == nil)"),
            "true");
  // Number keys are written without breaking the table walk; other values
  // than strings and numbers write the key alone.
  EXPECT_EQ(Run("u:SetQuery(setmetatable({[1] = 2, [2] = true, ['k~'] = 'a/b*-._'}, {'k~', 'gone'}), '!', '-')"), "nil");
  EXPECT_EQ(Run("return u:GetPartsRaw('?')[1]:sub(1, 15)"), "k%7E-a%2Fb*-._!");
  EXPECT_EQ(Run("return named(u:GetQuery('!', '-'))"), "1=2,2=false,k~=a/b*-._");
  EXPECT_EQ(Run("return err(u.SetQuery, u, {[true] = 1})"), "query key of type boolean can not be written");
  EXPECT_EQ(Run("local big = {} for i = 1, 100000 do big['k' .. i] = i end u:SetQuery(big) "
                "local n = 0 for _ in pairs(u:GetQuery()) do n = n + 1 end return n"),
            "100000");
}

TEST_F(DntParsedUrlTest, EmptySeparatorsAreRefused) {
  Run("u = U.new('http://h.test/?a=1')");
  EXPECT_EQ(Run("return err(u.GetQuery, u, '')"), "empty pair separator");
  EXPECT_EQ(Run("return err(u.GetQuery, u, '&', '')"), "empty key separator");
  EXPECT_EQ(Run("return err(u.SetQuery, u, {a = 1}, '')"), "empty pair separator");
  EXPECT_EQ(Run("return err(u.SetQuery, u, {a = 1}, nil, '')"), "empty key separator");
  EXPECT_EQ(Run("return u:ToString()"), "http://h.test/?a=1");
}

TEST_F(DntParsedUrlTest, EditsAndSerialisationFailures) {
  EXPECT_EQ(Run("local u = U.new('http://h.test/a') u:SetPath('x/y') return u:ToString()"), "http://h.test/x/y");
  EXPECT_EQ(Run("local u = U.new('http://h.test/a') u:SetPath('/x') u:SetFragment('f g') return tostring(u)"),
            "http://h.test//x#f g");
  EXPECT_EQ(Run("local u = U.new('http://h.test:81/') u:EraseHost() return err(u.ToString, u)"),
            "URL string can not contain port without a host name or address");
  EXPECT_EQ(Run("local u = U.new('http://me@h.test/') u:EraseHost() return err(tostring, u)"),
            "URL string can not contain user information without host information");
  EXPECT_EQ(Run("local u = U.new('http://h.test/?') u:SetQuery({a = 1}) return err(u.ToString, u)"),
            "URL query information is not consistent, empty query flag is set with non-empty query");
  EXPECT_EQ(Run("local a = U.new('http://h.test/x?q') local b = U.new('http://h.test/x?q') a:SetPath('y') "
                "return tostring(tostring(a) == a:ToString()) .. ' ' .. tostring(b)"),
            "true http://h.test/x?q");
  EXPECT_EQ(Run("return err(U.new, 'http://')"), "No authority information or path present after URL scheme");
}

TEST_F(DntParsedUrlTest, WrongArgumentsGiveStandardErrors) {
  Run("u = U.new('http://h.test/') mt = registry.DntParsedUrl");
  // Scripts see no metatable of a library object.
  EXPECT_EQ(Run("return tostring(getmetatable(u)) .. tostring(debug.getmetatable(io.stdout)) .. tostring(u.__index)"),
            "falsefalsenil");
  EXPECT_THAT(Run("return err(u.ToString, {})"),
              MatchesRegex("bad argument #1 to .*\\(DntParsedUrl expected, got table\\)"));
  EXPECT_THAT(Run("return err(mt.__index.GetQuery, {})"),
              HasSubstr("DntParsedUrl expected, got table"));
  // Foreign userdata: a light one and a full one; neither can be dressed in
  // the metatable (it holds a finalizer, and the full one is a library's).
  EXPECT_THAT(Run("return err(mt.__index.ToString, registry.DntEngine)"), HasSubstr("DntParsedUrl expected, got userdata"));
  EXPECT_THAT(Run("return err(mt.__index.EraseHost, io.stdout)"), HasSubstr("DntParsedUrl expected, got userdata"));
  EXPECT_THAT(Run("return err(debug.setmetatable, registry.DntEngine, mt)"),
              HasSubstr("base scripts cannot set finalizers (__gc)"));
  EXPECT_THAT(Run("return err(debug.setmetatable, io.stdout, {})"),
              HasSubstr("base scripts cannot change the metatable of a library object"));
  EXPECT_THAT(Run("return err(U.new, {})"), HasSubstr("(string expected, got table)"));
  EXPECT_THAT(Run("return err(u.SetQuery, u, 5)"), HasSubstr("(table expected, got number)"));
  EXPECT_THAT(Run("return err(u.SetPath, u)"), HasSubstr("(string expected, got no value)"));
  EXPECT_THAT(Run("return err(u.GetParts, u, {})"), HasSubstr("(string expected, got table)"));
}

TEST_F(DntParsedUrlTest, FinalisedObjectsStayHarmless) {
  // Long enough that the model's strings live on the heap.
  EXPECT_EQ(Run("local u = U.new('http://a-long-host-name.test/and/a/long/path') "
                "registry.DntParsedUrl.__gc(u) registry.DntParsedUrl.__gc(u) "
                "return err(u.GetParts, u)"),
            "DntParsedUrl object used after it was finalised");
  // No script finaliser can resurrect an object whose own finaliser runs.
  EXPECT_THAT(Run("return err(setmetatable, {}, {__gc = function() end})"),
              HasSubstr("base scripts cannot set finalizers (__gc)"));
  // Opening the module again keeps existing objects valid.
  Run("old = U.new('http://h.test/')");
  luaL_requiref(m_host.State(), "DntParsedUrl", OpenDntParsedUrl, 0);
  lua_pop(m_host.State(), 1);
  EXPECT_EQ(Run("return old:ToString()"), "http://h.test");
  PushDntParsedUrl(m_host.State(), orv::network::ParsedUrl::Parse("http://pushed.test/a"));
  lua_setglobal(m_host.State(), "pushed");
  EXPECT_EQ(Run("return pushed:GetParts('p')[1]"), "a");
}

}  // namespace
}  // namespace dnt
