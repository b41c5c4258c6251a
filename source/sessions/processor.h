// One HTTP session: filters its requests, decides whether a "DNT" header is
// still wanted, runs the base scripts on its requests and responses through
// its own script host, and turns the verdict script's results into the
// record the host expects.
#pragma once

#include <memory>
#include <string>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "do_not_track/dnt_engine/script_host.h"
#include "do_not_track/session.h"
#include "source/rtl/component_object.h"

namespace dnt {

class ProcessorFactory;

class HttpSessionProcessor final : public rtl::ComponentObject<HttpSessionProcessor, IHttpSessionProcessor>,
                                   private IScriptEngineContext {
 public:
  /// Keeps `bases` for its whole life, whatever the factory's slot holds
  /// later; builds the session's script host with the factory's settings.
  HttpSessionProcessor(orv::IServiceLocator* locator, orv::ComPtr<ProcessorFactory> factory,
                       const SessionParams& params, orv::ComPtr<Bases> bases);
  ~HttpSessionProcessor();

  void* FindInterface(orv::iid_t iid) noexcept;

  orv::result_t ProcessRequest(const RequestParams* requestParams, IHttpMessageController* controller,
                               bool* responseProcessingRequired) override;
  orv::result_t ProcessResponse(const ResponseParams* responseParams, IHttpMessageController* controller) override;
  orv::result_t GetVerdict(TrackingVerdict* verdict) override;

 private:
  const Bases& GetBases() const noexcept override { return *m_bases; }
  const ServiceSettings& GetSettings() const noexcept override;

  bool RunRequest(IHttpRequestHeader* header, IHttpMessageController* controller);
  bool WantsDntHeader(IHttpRequestHeader* header) const;
  /// Writes the failed-check record of a null argument; InvalidArgument.
  orv::result_t RefuseNull(int line, const char* expression) const noexcept;

  // Declared in the reverse of the order in which they are released: the
  // script host goes first, the bases snapshot last.
  orv::ComPtr<Bases> m_bases;
  std::string m_domain;
  orv::ComPtr<ProcessorFactory> m_factory;
  bool m_sessionFlag;
  /// GetVerdict runs no script while set.
  bool m_skipped = false;
  /// Some request of this session completed its script: a later filtered
  /// request no longer hides that request's verdict.
  bool m_requestCompleted = false;
  std::unique_ptr<ScriptHost> m_host;
};

}  // namespace dnt
