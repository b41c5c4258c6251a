// A host's whole life with the module, through its exports and the SDK only:
// create and verify the service component on a bases directory and on a host
// storage, run sessions, update the bases in place, switch to a new
// instance, release everything and unload.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "cmake/build_paths.h"
#include "do_not_track/service_component.h"
#include "host/environment.h"
#include "host/http_message.h"
#include "host/memory_data_storage.h"
#include "host/packed_io_factory.h"
#include "orv/system/loadable_module.h"
#include "tests/support/host_test.h"

namespace {

using namespace orv;
using GetFactoryFn = result_t (*)(IServiceLocator*, clsid_t, IObjectFactory**);
using CanUnloadFn = result_t (*)();

ComPtr<host::MemoryDataStorage> StorageWithSampleBases() {
  auto storage = host::MakeHostObject<host::MemoryDataStorage>();
  for (const auto& entry : std::filesystem::directory_iterator(DNT_SAMPLE_BASES)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::u16string name = entry.path().filename().u16string();
    storage->AddFile(name, std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
  }
  return storage;
}

struct Outcome {
  bool responseRequired = false;
  std::shared_ptr<host::HttpMessage> message;
};

Outcome Get(dnt::IHttpSessionProcessor& processor, const std::string& url) {
  Outcome outcome;
  outcome.message = std::make_shared<host::HttpMessage>(dnt::HttpRequestLine{url, "GET", "HTTP/1.1"},
                                                        std::vector<host::HttpField>{{"Cookie", "uid=1"}});
  const auto header = host::MakeRequestHeader(outcome.message);
  const auto controller = host::MakeController(outcome.message);
  const dnt::RequestParams params{header.Get()};
  EXPECT_EQ(processor.ProcessRequest(&params, controller.Get(), &outcome.responseRequired), 0u) << url;
  return outcome;
}

dnt::TrackingVerdict VerdictOf(dnt::IHttpSessionProcessor& processor) {
  dnt::TrackingVerdict verdict;
  EXPECT_EQ(processor.GetVerdict(&verdict), 0u);
  return verdict;
}

// One session to an ad server (blocked by the settings) and one to a social
// network (detected: its Set-Cookie is removed from the response).
void RunSessions(dnt::IProcessorFactory& service) {
  ComPtr<dnt::IHttpSessionProcessor> ads;
  const dnt::SessionParams adParams{"ads.adbroker.example", false};
  ASSERT_EQ(service.CreateHttpSessionProcessor(&adParams, ads.Put()), 0u);
  const Outcome blocked = Get(*ads, "https://ads.adbroker.example/serve/banner?id=42");
  ASSERT_TRUE(blocked.message->ForbiddenResponse().has_value());
  const dnt::TrackingVerdict adVerdict = VerdictOf(*ads);
  EXPECT_EQ(adVerdict.verdict, dnt::verdict::Blocked);
  EXPECT_EQ(adVerdict.serviceName, u"AdBroker Network");
  EXPECT_EQ(adVerdict.serviceCategory, dnt::category::AdAgency);

  ComPtr<dnt::IHttpSessionProcessor> social;
  const dnt::SessionParams socialParams{"connect.friendface.test", false};
  ASSERT_EQ(service.CreateHttpSessionProcessor(&socialParams, social.Put()), 0u);
  const Outcome detected = Get(*social, "http://connect.friendface.test/en_US/sdk.js");
  EXPECT_FALSE(detected.message->ForbiddenResponse().has_value());
  ASSERT_TRUE(detected.responseRequired);
  auto response = std::make_shared<host::HttpMessage>(dnt::HttpRequestLine{},
                                                      std::vector<host::HttpField>{{"Set-Cookie", "track=1"}});
  const auto responseHeader = host::MakeResponseHeader(response);
  const auto controller = host::MakeController(response);
  const dnt::ResponseParams responseParams{responseHeader.Get()};
  EXPECT_EQ(social->ProcessResponse(&responseParams, controller.Get()), 0u);
  EXPECT_TRUE(response->Values("Set-Cookie").empty());
  const dnt::TrackingVerdict socialVerdict = VerdictOf(*social);
  EXPECT_EQ(socialVerdict.verdict, dnt::verdict::Detected);
  EXPECT_EQ(socialVerdict.serviceName, u"FriendFace");

  bool required = false;
  EXPECT_EQ(service.IsDomainProcessingRequired("connect.friendface.test", &required), 0u);
  EXPECT_TRUE(required);
}

class HostBlackBoxTest : public dnt::testing::HostTest {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(module.Load(DNT_ENGINE_PATH, error)) << error;
    getFactory = reinterpret_cast<GetFactoryFn>(module.Symbol("orvGetObjectFactory"));
    canUnload = reinterpret_cast<CanUnloadFn>(module.Symbol("orvCanUnloadModule"));
    ASSERT_TRUE(getFactory && canUnload);
    locator->Register(ComPtr<IEnvironment>(host::MakeHostObject<host::Environment>(
        std::filesystem::path(DNT_SAMPLE_BASES).u16string())));
    locator->Register(ComPtr<IPackedIOFactory>(host::MakeHostObject<host::PackedIOFactory>()));
  }
  void TearDown() override {
    module.Unload();
    HostTest::TearDown();
  }

  /// A new service component, verified on `storage` (or the directory) and
  /// switched from `previous` when given.
  ComPtr<dnt::IComponentInit> Component(IDataStorage* storage, IObject* previous) {
    ComPtr<IObjectFactory> factory;
    EXPECT_EQ(getFactory(locator.Get(), ServiceComponentClassId, factory.Put()), 0u);
    ComPtr<dnt::IComponentInit> component;
    EXPECT_EQ(factory->CreateInstance(locator.Get(), dnt::IComponentInit::iid, component.PutVoid()), 0u);
    if (!component) return component;
    if (storage) {
      EXPECT_EQ(component.As<dnt::IStorageConsumer>()->SetStorage(storage), 0u);
    }
    EXPECT_EQ(component->Verify(previous), 0u);
    EXPECT_EQ(component->Init(previous), 0u);
    return component;
  }

  orv::system::LoadableModule module;
  GetFactoryFn getFactory = nullptr;
  CanUnloadFn canUnload = nullptr;
};

TEST_F(HostBlackBoxTest, WholeLifeOfAHost) {
  dnt::ServiceSettings settings;
  settings.blockTrackingServiceCategories.push_back(dnt::category::AdAgency);
  {
    auto first = Component(nullptr, nullptr);  // the bases directory
    ASSERT_TRUE(first);
    ComPtr<dnt::IProcessorFactory> service;
    ASSERT_EQ(first.As<dnt::IDntServiceProvider>()->CreateDntService(&settings, service.Put()), 0u);
    RunSessions(*service);

    auto storage = StorageWithSampleBases();
    auto update = first.As<dnt::IBasesUpdateHandler2>();
    ASSERT_EQ(update->VerifyBasesUpdate(storage.Get()), 0u);
    ASSERT_EQ(update->HandleBasesUpdate(), 0u);
    RunSessions(*service);

    auto second = Component(storage.Get(), first.Get());
    ASSERT_TRUE(second);
    RunSessions(*service);  // the first instance's service, now on the second's engine
    ComPtr<dnt::IProcessorFactory> secondService;
    ASSERT_EQ(second.As<dnt::IDntServiceProvider>()->CreateDntService(&settings, secondService.Put()), 0u);
    RunSessions(*secondService);
    std::vector<dnt::SupportedTrackingService> services;
    EXPECT_EQ(first.As<dnt::IDntBasesInfo>()->GetSupportedTrackingServices(dnt::category::AdAgency, &services), 0u);
    EXPECT_EQ(services.size(), 2u);
    EXPECT_EQ(canUnload(), result::False);
  }
  EXPECT_EQ(canUnload(), result::NoError);
  EXPECT_TRUE(tracer->Texts(trace_level::Failure).empty()) << tracer->All();
}

}  // namespace
