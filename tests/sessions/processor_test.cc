#include <gtest/gtest.h>

#include "orv/text/utf.h"
#include "source/sessions/processor.h"
#include "source/sessions/processor_factory.h"
#include "source/sessions/processor_factory_facade.h"
#include "tests/sessions/session_fixture.h"

namespace dnt::testing {
namespace {

using namespace orv::result;

// RequestProcessor answers with its addDntHeader argument and remembers the
// URLs it saw; GetVerdict runs `body`, and fails in a state where no request
// reached the script.
const std::string RequestScript = R"(
Seen = {}
return "RequestProcessor", function()
  return function(request, sessionFlag, domain, addDnt)
    local url = request:GetRequestUrl()
    if url:find("fail") then error("script failed on " .. url) end
    Seen[#Seen + 1] = url
    return addDnt
  end
end)";

std::string VerdictScript(const std::string& body) {
  return "return 'GetVerdict', function() return function() local seen = #Seen " + body + " end end";
}

class ProcessorTest : public SessionTest {
 protected:
  orv::ComPtr<IHttpSessionProcessor> Start(const std::string& verdictBody,
                                           const ServiceSettings& settings = ServiceSettings::Defaults(),
                                           bool sessionFlag = false) {
    Publish(MakeBases(tracer.Get(), {RequestScript, VerdictScript(verdictBody)}));
    factory = Factory(settings);
    auto processor = Processor(*factory, "site.test", sessionFlag);
    EXPECT_EQ(Request("GET http://first.test/ HTTP/1.1").RunOn(*processor), 0u);
    return processor;
  }

  TrackingVerdict VerdictOf(IHttpSessionProcessor& processor, orv::result_t expected = 0) {
    TrackingVerdict verdict;
    EXPECT_EQ(processor.GetVerdict(&verdict), expected);
    return verdict;
  }
};

TEST_F(ProcessorTest, DntHeaderIsAskedForUnlessTheRequestHasOne) {
  ServiceSettings settings = ServiceSettings::Defaults();
  settings.addDntHttpHeader = true;
  auto processor = Start("return {}, 0", settings);
  const std::pair<std::vector<host::HttpField>, bool> cases[] = {
      {{{"DNT", "1"}}, false}, {{{"dnt", "1"}}, false}, {{{"DNT", "0"}}, true},
      {{{"DNT", "1 "}}, true}, {{{"DNT", ""}}, true},   {{}, true},
  };
  for (const auto& [fields, expected] : cases) {
    bool required = !expected;
    EXPECT_EQ(Request("POST http://a.test/ HTTP/1.1", fields).RunOn(*processor, &required), 0u);
    EXPECT_EQ(required, expected) << (fields.empty() ? "no field" : fields[0].value);
  }
  auto flagged = Processor(*factory, "site.test", true);
  bool required = true;
  EXPECT_EQ(Request("GET http://a.test/ HTTP/1.1").RunOn(*flagged, &required), 0u);
  EXPECT_FALSE(required);
  settings.addDntHttpHeader = false;
  auto off = Processor(*Factory(settings));
  EXPECT_EQ(Request("GET http://a.test/ HTTP/1.1").RunOn(*off, &required), 0u);
  EXPECT_FALSE(required);
}

TEST_F(ProcessorTest, VerdictResultsAreConverted) {
  // Verdict, service id, category and name; service index 3 of the engine
  // database is service 40, category 1, "Friends".
  const std::pair<const char*, std::string> cases[] = {
      {"return {{7, 3, 'x'}}, 1", "1 7 3 x"},
      {"return {3}, 2", "2 40 1 Friends"},
      {"return {}, 2", "0 0 1 "},
      {"return {{7, 3, 'x'}}, '2'", "0 7 3 x"},
      {"return {{-1, 0/0, 'y'}}, 1e300", "4294967295 0 0 y"},
      {"return {{7.9, 3, 'z'}}, -1", "0 7 3 z"},
  };
  for (const auto& [body, expected] : cases) {
    const TrackingVerdict verdict = VerdictOf(*Start(body));
    EXPECT_EQ(std::to_string(verdict.verdict) + " " + std::to_string(verdict.serviceId) + " " +
                  std::to_string(verdict.serviceCategory) + " " + orv::text::ToUtf8(verdict.serviceName),
              expected)
        << body;
  }
  const std::pair<const char*, const char*> failures[] = {
      {"return {1, 2}, 1", "Invalid tracking services verdict results 2"},
      {"return {'svc'}, 1", "Unexpected tracking service info descriptor in the result of GetVerdict script"},
      {"return 5, 1", "table expected"},
      {"return {99}, 1", "FlatObjectListBlock: the index is out of range"},
      {"return {{'a', 3, 'x'}}, 1", "number expected"},
  };
  for (const auto& [body, text] : failures) {
    tracer->Clear();
    auto processor = Start(body);
    TrackingVerdict verdict;
    verdict.serviceId = 77;
    EXPECT_TRUE(orv::Failed(processor->GetVerdict(&verdict))) << body;
    EXPECT_EQ(verdict.serviceId, 77u) << "the caller's record is kept on failure";
    const auto failuresTraced = tracer->Texts(orv::trace_level::Failure);
    ASSERT_EQ(failuresTraced.size(), 1u) << body;
    EXPECT_EQ(failuresTraced[0].rfind("Getting the verdict: ", 0), 0u) << failuresTraced[0];
    EXPECT_NE(failuresTraced[0].find(text), std::string::npos) << failuresTraced[0];
  }
}

TEST_F(ProcessorTest, FailedOrFilteredRequestsAndTheVerdict) {
  auto processor = Start("return {{7, 3, 'x'}}, 2");
  // A script error: traced, reported, and the verdict falls back.
  tracer->Clear();
  EXPECT_TRUE(orv::Failed(Request("GET http://a.test/fail HTTP/1.1").RunOn(*processor)));
  const auto failures = tracer->Texts(orv::trace_level::Failure);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].rfind("Request processing: ", 0), 0u);
  EXPECT_NE(failures[0].find("fatal script error: runtime error: failed to execute a script: "), std::string::npos);
  EXPECT_EQ(VerdictOf(*processor).verdict, verdict::NotDetected);

  // An interesting request clears that; a filtered one after it does not
  // hide its verdict.
  EXPECT_EQ(Request("GET http://a.test/ok HTTP/1.1").RunOn(*processor), 0u);
  EXPECT_EQ(Request("HEAD http://a.test/ok HTTP/1.1").RunOn(*processor), 0u);
  EXPECT_EQ(VerdictOf(*processor).verdict, verdict::Blocked);

  // Only GET and POST run the script: a session whose requests were all
  // filtered reports nothing.
  auto filtered = Processor(*factory);
  for (const char* line : {"HEAD / HTTP/1.1", "get / HTTP/1.1", "PUT / HTTP/1.1", "OPTIONS * HTTP/1.1"}) {
    bool required = true;
    EXPECT_EQ(Request(line).RunOn(*filtered, &required), 0u) << line;
    EXPECT_FALSE(required) << line;
  }
  const TrackingVerdict nothing = VerdictOf(*filtered);
  EXPECT_EQ(nothing.verdict, verdict::NotDetected);
  EXPECT_EQ(nothing.serviceCategory, category::SocialNetwork);
  EXPECT_NE(tracer->All().find("Uninteresting request, the processing skipped"), std::string::npos);
  EXPECT_EQ(Request("GET http://a.test/ HTTP/1.1").RunOn(*filtered), 0u);
  EXPECT_EQ(VerdictOf(*filtered).verdict, verdict::Blocked);
}

TEST_F(ProcessorTest, NullArgumentsAreRefusedWithATrace) {
  auto processor = Start("return {}, 0");
  Request request("GET http://a.test/ HTTP/1.1");
  bool required = false;
  const RequestParams none{};
  const RequestParams params{request.header.Get()};
  tracer->Clear();
  EXPECT_EQ(processor->ProcessRequest(nullptr, request.controller.Get(), &required), InvalidArgument);
  EXPECT_EQ(processor->ProcessRequest(&none, request.controller.Get(), &required), InvalidArgument);
  EXPECT_EQ(processor->ProcessRequest(&params, nullptr, &required), InvalidArgument);
  EXPECT_EQ(processor->ProcessRequest(&params, request.controller.Get(), nullptr), InvalidArgument);
  const ResponseParams noResponse{};
  EXPECT_EQ(processor->ProcessResponse(&noResponse, request.controller.Get()), InvalidArgument);
  EXPECT_EQ(processor->GetVerdict(nullptr), InvalidArgument);
  const auto lines = tracer->Texts(orv::trace_level::Failure);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_NE(lines[0].find(":"), std::string::npos);
  EXPECT_NE(lines[0].find("(0 != requestParams.httpRequestHeader),(bool) failed: result = false"), std::string::npos);
  EXPECT_NE(lines[2].find("(0 != controller),(bool) failed: result = false"), std::string::npos);

  IHttpSessionProcessor* none2 = nullptr;
  const SessionParams session{"a.test", false};
  EXPECT_EQ(factory->CreateHttpSessionProcessor(&session, nullptr), InvalidArgument);
  EXPECT_EQ(factory->CreateHttpSessionProcessor(nullptr, &none2), InvalidArgument);
}

TEST_F(SessionTest, FactoryAnswersWithAndWithoutBases) {
  factory = Factory();
  orv::ComPtr<IHttpSessionProcessor> processor;
  const SessionParams params{"a.test", false};
  bool required = false;
  EXPECT_EQ(factory->CreateHttpSessionProcessor(&params, processor.Put()), InvalidState);
  EXPECT_EQ(factory->IsDomainProcessingRequired("a.test", &required), InvalidState);

  bases_writer::Database db = EngineDatabase();
  db.httpsDomains = {"*.secure.test"};
  Publish(MakeBases(tracer.Get(), {"return 'X', function() return {} end"}, db));
  EXPECT_EQ(factory->IsDomainProcessingRequired("www.secure.test", &required), 0u);
  EXPECT_TRUE(required);
  EXPECT_EQ(factory->IsDomainProcessingRequired("plain.test", &required), 0u);
  EXPECT_FALSE(required);

  ServiceSettings repeated = ServiceSettings::Defaults();
  repeated.blockTrackingServiceCategories = {4, 1, 4};
  EXPECT_THROW(Factory(repeated), orv::InvalidArgumentException);
  void* none = nullptr;
  EXPECT_EQ(factory->GetUpdatedImplementation(static_cast<IProcessorFactory*>(factory.Get()), IUpdatableImplementation::iid, &none),
            InterfaceNotSupported);
}

TEST_F(SessionTest, FacadeForwardsAndOnlyCommitsAFactory) {
  Publish(MakeBases(tracer.Get(), {"return 'X', function() return {} end"}));
  factory = Factory();
  auto facade = rtl::MakeComponent<ProcessorFactoryFacade>(locator.Get(), orv::ComPtr<IProcessorFactory>(factory.Get()),
                                                           nullptr);
  orv::ComPtr<IHttpSessionProcessor> processor;
  const SessionParams params{"a.test", false};
  EXPECT_EQ(facade->CreateHttpSessionProcessor(&params, processor.Put()), 0u);

  void* raw = nullptr;
  EXPECT_EQ(facade->GetRawImplementation(ISwitchableImplementation::iid, &raw), InterfaceNotSupported);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(facade->CommitSwitch(nullptr), InvalidArgument);
  EXPECT_EQ(facade->CommitSwitch(tracer.Get()), InvalidArgument);  // not a factory: the current one stays
  auto other = Factory();
  EXPECT_EQ(facade->CommitSwitch(static_cast<IProcessorFactory*>(other.Get())), 0u);
  ASSERT_EQ(facade->GetRawImplementation(IProcessorFactory::iid, &raw), 0u);
  EXPECT_EQ(raw, static_cast<IProcessorFactory*>(other.Get()));
  static_cast<IProcessorFactory*>(raw)->Release();

  // Preparing needs a new implementation that provides a DNT service.
  orv::ComPtr<orv::IObject> localStorage;
  EXPECT_EQ(facade->PrepareSwitchTo(nullptr, localStorage.Put()), InvalidArgument);
  EXPECT_EQ(facade->PrepareSwitchTo(tracer.Get(), localStorage.Put()), InterfaceNotSupported);
  EXPECT_FALSE(localStorage);
}

}  // namespace
}  // namespace dnt::testing
