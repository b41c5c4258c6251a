#include "source/sessions/processor.h"

#include <lua.hpp>

#include <algorithm>
#include <climits>

#include "do_not_track/dnt_engine/bug_queries.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/translate.h"
#include "orv/text/utf.h"
#include "orv/trace/trace_stream.h"
#include "source/scripting/dnt_engine_api.h"
#include "source/scripting/script_http_request.h"
#include "source/sessions/processor_factory.h"

namespace dnt {
namespace {

constexpr const char* ProcessorLocation = "processor";

bool IsInterestingMethod(const std::string& method) { return method == "GET" || method == "POST"; }

/// "RequestProcessor"(request, sessionFlag, domain, addDntHeader) -> truth.
class RequestCall final : public ScriptCall {
 public:
  RequestCall(ScopedHttpMessage& message, IHttpRequestHeader* header, IHttpMessageController* controller,
              bool sessionFlag, const std::string& domain, bool addDntHeader)
      : m_message(message),
        m_header(header),
        m_controller(controller),
        m_sessionFlag(sessionFlag),
        m_domain(domain),
        m_addDntHeader(addDntHeader) {}

  void PushArguments(lua_State* L, int& argumentCount, int& resultCount) override {
    m_message.PushRequest(m_header, m_controller);
    lua_pushboolean(L, m_sessionFlag);
    lua_pushlstring(L, m_domain.data(), m_domain.size());
    lua_pushboolean(L, m_addDntHeader);
    argumentCount = 4;
    resultCount = 1;
  }
  void ReadResults(lua_State* L) override { responseRequired = lua_toboolean(L, -1) != 0; }

  bool responseRequired = false;

 private:
  ScopedHttpMessage& m_message;
  IHttpRequestHeader* m_header;
  IHttpMessageController* m_controller;
  bool m_sessionFlag;
  const std::string& m_domain;
  bool m_addDntHeader;
};

/// "ResponseProcessor"(response); its result is not used.
class ResponseCall final : public ScriptCall {
 public:
  ResponseCall(ScopedHttpMessage& message, IHttpResponseHeader* header, IHttpMessageController* controller)
      : m_message(message), m_header(header), m_controller(controller) {}

  void PushArguments(lua_State*, int& argumentCount, int& resultCount) override {
    m_message.PushResponse(m_header, m_controller);
    argumentCount = 1;
    resultCount = 1;
  }
  void ReadResults(lua_State*) override {}

 private:
  ScopedHttpMessage& m_message;
  IHttpResponseHeader* m_header;
  IHttpMessageController* m_controller;
};

/// "GetVerdict"() -> {descriptor?}, code.
class VerdictCall final : public ScriptCall {
 public:
  VerdictCall(const BugBases& bugs, TrackingVerdict& verdict) : m_bugs(bugs), m_verdict(verdict) {}

  void PushArguments(lua_State*, int& argumentCount, int& resultCount) override {
    argumentCount = 0;
    resultCount = 2;
  }

  void ReadResults(lua_State* L) override {
    const int services = lua_gettop(L) - 1;
    // Only a Lua number counts as a code, not a numeric string; numbers out
    // of range are taken as the script API takes its arguments.
    uint32_t code = lua_type(L, -1) == LUA_TNUMBER ? ToUint32Argument(lua_tonumber(L, -1)) : 0;
    luaL_checktype(L, services, LUA_TTABLE);
    const std::size_t count = lua_rawlen(L, services);
    if (count > 1) {
      luaL_error(L, "Invalid tracking services verdict results %d",
                 static_cast<int>(std::min<std::size_t>(count, INT_MAX)));
    }
    if (count == 0) {
      code = verdict::NotDetected;
    } else {
      lua_rawgeti(L, services, 1);
      ReadDescriptor(L, lua_gettop(L));
    }
    m_verdict.verdict = code;
  }

 private:
  void ReadDescriptor(lua_State* L, int descriptor) {
    const int type = lua_type(L, descriptor);
    if (type == LUA_TNUMBER) {
      const ServiceInfo info = GetServiceInfo(m_bugs, ToUint32Argument(lua_tonumber(L, descriptor)));
      SetService(info.id, info.category, info.name);
    } else if (type == LUA_TTABLE) {
      lua_rawgeti(L, descriptor, 1);
      lua_rawgeti(L, descriptor, 2);
      lua_rawgeti(L, descriptor, 3);
      const int top = lua_gettop(L);
      const uint32_t id = ToUint32Argument(luaL_checknumber(L, top - 2));
      const uint32_t category = ToUint32Argument(luaL_checknumber(L, top - 1));
      std::size_t length = 0;
      const char* name = luaL_checklstring(L, top, &length);
      SetService(id, category, std::string_view(name, length));
    } else {
      luaL_error(L, "Unexpected tracking service info descriptor in the result of GetVerdict script");
    }
  }

  void SetService(uint32_t id, uint32_t category, std::string_view name) {
    std::optional<std::u16string> wide = orv::text::FromUtf8(name);
    if (!wide) throw std::bad_cast();
    m_verdict.serviceId = id;
    m_verdict.serviceCategory = category;
    m_verdict.serviceName = std::move(*wide);
  }

  const BugBases& m_bugs;
  TrackingVerdict& m_verdict;
};

}  // namespace

HttpSessionProcessor::HttpSessionProcessor(orv::IServiceLocator* locator, orv::ComPtr<ProcessorFactory> factory,
                                           const SessionParams& params, orv::ComPtr<Bases> bases)
    : ComponentObject(locator),
      m_bases(std::move(bases)),
      m_domain(params.domain),
      m_factory(std::move(factory)),
      m_sessionFlag(params.sessionFlag) {
  const IScriptEngineContext* context = this;
  m_host = std::make_unique<ScriptHost>(Services().tracer, context, m_factory->Settings(), ScriptStage::Session);
}

HttpSessionProcessor::~HttpSessionProcessor() = default;

const ServiceSettings& HttpSessionProcessor::GetSettings() const noexcept { return m_factory->Settings(); }

void* HttpSessionProcessor::FindInterface(orv::iid_t iid) noexcept {
  if (iid == orv::IObject::iid || iid == IHttpSessionProcessor::iid) return static_cast<IHttpSessionProcessor*>(this);
  return nullptr;
}

orv::result_t HttpSessionProcessor::RefuseNull(int line, const char* expression) const noexcept {
  if (orv::TraceStream trace{Tracer(), orv::trace_level::Failure}) {
    trace << ProcessorLocation << ".cc:" << line << '(' << expression << "),(bool) failed: result = false";
  }
  return orv::result::InvalidArgument;
}

orv::result_t HttpSessionProcessor::ProcessRequest(const RequestParams* requestParams,
                                                   IHttpMessageController* controller,
                                                   bool* responseProcessingRequired) {
  if (!requestParams || !requestParams->httpRequestHeader) {
    return RefuseNull(__LINE__, "0 != requestParams.httpRequestHeader");
  }
  if (!controller) return RefuseNull(__LINE__, "0 != controller");
  if (!responseProcessingRequired) return RefuseNull(__LINE__, "0 != responseProcessingRequired");
  *responseProcessingRequired = false;
  try {
    *responseProcessingRequired = RunRequest(requestParams->httpRequestHeader, controller);
    return orv::result::NoError;
  } catch (...) {
    m_skipped = true;
    return orv::TranslateCurrentException(Tracer(), "Request processing: ");
  }
}

bool HttpSessionProcessor::RunRequest(IHttpRequestHeader* header, IHttpMessageController* controller) {
  HttpRequestLine requestLine;
  orv::CheckResult(header->GetRequestLine(&requestLine), ProcessorLocation, __LINE__);
  if (!IsInterestingMethod(requestLine.method)) {
    // A filtered request says nothing about the session, so it must not
    // hide the verdict of a request that ran its script before it.
    if (!m_requestCompleted) m_skipped = true;
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << "Uninteresting request, the processing skipped";
    }
    return false;
  }
  m_skipped = false;

  ScopedHttpMessage message(m_host->State());
  RequestCall call(message, header, controller, m_sessionFlag, m_domain, WantsDntHeader(header));
  m_host->Call("RequestProcessor", call);
  m_requestCompleted = true;
  if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
    line << "The processing of the http response is " << (call.responseRequired ? "" : "not ") << "required";
  }
  return call.responseRequired;
}

bool HttpSessionProcessor::WantsDntHeader(IHttpRequestHeader* header) const {
  if (!GetSettings().addDntHttpHeader || m_sessionFlag) return false;
  std::string value;
  return orv::Failed(header->GetField("DNT", &value)) || value != "1";
}

orv::result_t HttpSessionProcessor::ProcessResponse(const ResponseParams* responseParams,
                                                    IHttpMessageController* controller) {
  if (!responseParams || !responseParams->httpResponseHeader) {
    return RefuseNull(__LINE__, "0 != responseParams.httpResponseHeader");
  }
  if (!controller) return RefuseNull(__LINE__, "0 != controller");
  try {
    ScopedHttpMessage message(m_host->State());
    ResponseCall call(message, responseParams->httpResponseHeader, controller);
    m_host->Call("ResponseProcessor", call);
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), "Response processing: ");
  }
}

orv::result_t HttpSessionProcessor::GetVerdict(TrackingVerdict* verdict) {
  if (!verdict) return RefuseNull(__LINE__, "0 != verdict");
  try {
    TrackingVerdict result;
    if (!m_skipped) {
      VerdictCall call(m_bases->Bugs(), result);
      m_host->Call("GetVerdict", call);
    }
    *verdict = std::move(result);
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), "Getting the verdict: ");
  }
}

}  // namespace dnt
