// dntbases run --request: a request built from the command line over the
// reference host's message, handed to an entry the way the session processor
// hands one to "RequestProcessor", and what the script changed in it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "do_not_track/dnt_engine/script_host.h"
#include "do_not_track/service_settings.h"
#include "host/http_message.h"
#include "source/scripting/script_http_request.h"

namespace dntbases {

struct RequestOptions {
  std::string requestLine;           ///< "METHOD TARGET VERSION"
  std::vector<std::string> headers;  ///< "Name: value" each
  bool sessionFlag = false;
  std::string domain;  ///< empty: the host the request goes to
};

/// The host `request` goes to, the default domain of its session: the
/// target's host, or the "host" field's for a target without one; empty when
/// neither gives one.
std::string DomainOf(const host::HttpMessage& request);

class RequestCall final : public dnt::ScriptCall {
 public:
  /// Throws std::invalid_argument for a malformed request line or field.
  RequestCall(lua_State* L, const RequestOptions& options, const dnt::ServiceSettings& settings);

  /// The request object, the session flag, the domain and whether a "DNT"
  /// field is still wanted; every result is kept as tostring gives it.
  void PushArguments(lua_State* L, int& argumentCount, int& resultCount) override;
  void ReadResults(lua_State* L) override { m_results.ReadResults(L); }

  const std::vector<std::string>& Results() const { return m_results.results; }
  /// One line per change: fields added, changed or removed, the request
  /// URL, a forbidden or OK response.
  std::vector<std::string> Changes() const;

 private:
  host::HttpMessage m_original;
  std::shared_ptr<host::HttpMessage> m_message;
  orv::ComPtr<dnt::IHttpRequestHeader> m_header;
  orv::ComPtr<dnt::IHttpMessageController> m_controller;
  bool m_sessionFlag;
  std::string m_domain;
  bool m_addDntHeader;
  dnt::ToStringCall m_results;
  dnt::ScopedHttpMessage m_object;  // last: ends the object before the host objects go
};

}  // namespace dntbases
