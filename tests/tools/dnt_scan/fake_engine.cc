#include "tests/tools/dnt_scan/fake_engine.h"

#include "do_not_track/categories.h"
#include "host/http_message.h"

namespace dnt_scan_test {
namespace {

using namespace module_host;

bool Has(const std::string& domain, const char* word) { return domain.find(word) != std::string::npos; }

const TrackingService Tracker{7, dnt::category::WebAnalytics, "Tracker Co"};
const TrackingService Blocker{9, dnt::category::AdAgency, "Blocked Ads"};

class FakeSession final : public EngineSession {
 public:
  explicit FakeSession(std::string domain) : m_domain(std::move(domain)) {}

  bool ProcessRequest(const std::shared_ptr<host::HttpMessage>& request) override {
    Fail();
    const auto header = host::MakeRequestHeader(request);
    const auto controller = host::MakeController(request);
    if (Has(m_domain, "blocked")) {
      controller->SetForbiddenResponse("403 Forbidden", "");
      m_verdict = {dnt::verdict::Blocked, Blocker};
    } else if (Has(m_domain, "tracker")) {
      header->RemoveField("Cookie");
      header->RemoveField("Referer");
      header->SetField("DNT", "1");
      m_verdict = {dnt::verdict::Detected, Tracker};
      return true;
    }
    return false;
  }

  void ProcessResponse(const std::shared_ptr<host::HttpMessage>& response) override {
    host::MakeResponseHeader(response)->RemoveField("set-cookie");
    if (Has(m_domain, "late")) host::MakeController(response).As<dnt::IHttpOkResponse>()->SetOkResponse("", "");
  }

  SessionVerdict Verdict() override {
    Fail();
    return m_verdict;
  }

 private:
  void Fail() const {
    if (Has(m_domain, "broken")) throw EngineError("ProcessRequest failed: 0x80000040 (Unexpected)");
  }

  std::string m_domain;
  SessionVerdict m_verdict;
};

}  // namespace

std::vector<TrackingService> FakeEngine::Services() { return {Tracker, Blocker}; }

bool FakeEngine::ProcessingRequired(const std::string& domain) {
  return Has(domain, "tracker") || Has(domain, "blocked") || Has(domain, "broken");
}

std::unique_ptr<EngineSession> FakeEngine::OpenSession(const std::string& domain) {
  opened.push_back(domain);
  return std::make_unique<FakeSession>(domain);
}

}  // namespace dnt_scan_test
