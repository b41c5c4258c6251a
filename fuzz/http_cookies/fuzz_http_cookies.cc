// Any bytes as a Cookie field value: GetCookies then SetCookies through the
// script objects must write a field that parses back to the same names in the
// same order, each with the last value its name had.
#include <lua.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "do_not_track/dnt_engine/script_host.h"
#include "do_not_track/service_settings.h"
#include "host/capturing_tracer.h"
#include "host/http_message.h"
#include "source/scripting/http_cookies.h"
#include "source/scripting/script_http_request.h"

namespace {

constexpr std::string_view Rebuild = "local r = ...; r:SetCookies(r:GetCookies())";

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Parse(std::string_view text, bool* openRepeat = nullptr) {
  Pairs pairs;
  const std::vector<dnt::CookiePair> parsed = dnt::ParseCookies(text);
  for (const dnt::CookiePair& pair : parsed) pairs.emplace_back(pair.name, pair.value);
  // An unclosed quote runs to the end of the text; written again for an
  // earlier pair of the same name, it swallows what follows. Nothing in
  // cookie syntax can escape it, so such texts are left out.
  if (openRepeat && !parsed.empty() && parsed.back().openQuote) {
    for (std::size_t i = 0; i + 1 < parsed.size(); ++i) *openRepeat |= parsed[i].name == parsed.back().name;
  }
  return pairs;
}

// Every name keeps its place and takes the last value it had.
Pairs Expected(const Pairs& pairs) {
  std::map<std::string, std::string> last;
  for (const auto& [name, value] : pairs) last[name] = value;
  Pairs expected;
  for (const auto& pair : pairs) expected.emplace_back(pair.first, last[pair.first]);
  return expected;
}

dnt::ScriptHost& Host() {
  static auto* host = new dnt::ScriptHost(orv::ComPtr<orv::ITracer>(host::MakeHostObject<host::CapturingTracer>()),
                                          nullptr, dnt::ServiceSettings(), dnt::ScriptStage::Session);
  return *host;
}

std::string RebuildCookies(std::string_view text) {
  auto message = std::make_shared<host::HttpMessage>(dnt::HttpRequestLine{"/", "GET", "HTTP/1.1"},
                                                     std::vector<host::HttpField>{{"Cookie", std::string(text)}});
  const auto header = host::MakeRequestHeader(message);
  const auto controller = host::MakeController(message);
  lua_State* L = Host().State();
  {
    dnt::ScopedHttpMessage object(L);
    if (luaL_loadbuffer(L, Rebuild.data(), Rebuild.size(), "=rebuild") != LUA_OK) std::abort();
    object.PushRequest(header.Get(), controller.Get());
    if (lua_pcall(L, 1, 0, 0) != LUA_OK) std::abort();
  }
  const std::vector<std::string> written = message->Values("cookie");
  if (written.size() != 1) std::abort();
  return written[0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  bool openRepeat = false;
  const Pairs original = Parse(text, &openRepeat);
  const Pairs rebuilt = Parse(RebuildCookies(text));
  if (!openRepeat && rebuilt != Expected(original)) std::abort();
  return 0;
}
