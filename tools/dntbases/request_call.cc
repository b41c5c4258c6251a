#include "tools/dntbases/request_call.h"

#include <lua.hpp>

#include "host/http_changes.h"
#include "source/scripting/request_url.h"
#include "url_parser/parsed_url.h"

namespace dntbases {
namespace {

host::HttpMessage BuildMessage(const RequestOptions& options) {
  std::vector<host::HttpField> fields;
  for (const std::string& header : options.headers) fields.push_back(host::ParseHeaderField(header));
  return host::HttpMessage(host::ParseRequestLine(options.requestLine), std::move(fields));
}

// As the session processor decides it: wanted unless the session says no or
// the request already carries "DNT: 1".
bool WantsDntHeader(const host::HttpMessage& message, const dnt::ServiceSettings& settings, bool sessionFlag) {
  if (!settings.addDntHttpHeader || sessionFlag) return false;
  return message.CombinedValue("DNT") != "1";
}

}  // namespace

std::string DomainOf(const host::HttpMessage& request) {
  try {
    const auto header = host::MakeRequestHeader(std::make_shared<host::HttpMessage>(request));
    const auto url = orv::network::ParsedUrl::Parse(dnt::ResolveRequestUrl(*header).text);
    return std::string(url.Part(orv::network::UrlPart::Host));
  } catch (const std::exception&) {
    return {};
  }
}

RequestCall::RequestCall(lua_State* L, const RequestOptions& options, const dnt::ServiceSettings& settings)
    : m_original(BuildMessage(options)),
      m_message(std::make_shared<host::HttpMessage>(m_original)),
      m_header(host::MakeRequestHeader(m_message)),
      m_controller(host::MakeController(m_message)),
      m_sessionFlag(options.sessionFlag),
      m_domain(options.domain.empty() ? DomainOf(m_original) : options.domain),
      m_addDntHeader(WantsDntHeader(m_original, settings, options.sessionFlag)),
      m_object(L) {}

void RequestCall::PushArguments(lua_State* L, int& argumentCount, int& resultCount) {
  m_results.PushArguments(L, argumentCount, resultCount);
  m_object.PushRequest(m_header.Get(), m_controller.Get());
  lua_pushboolean(L, m_sessionFlag);
  lua_pushlstring(L, m_domain.data(), m_domain.size());
  lua_pushboolean(L, m_addDntHeader);
  argumentCount = 4;
}

std::vector<std::string> RequestCall::Changes() const { return host::DescribeChanges(m_original, *m_message); }

}  // namespace dntbases
