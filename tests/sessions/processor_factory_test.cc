#include "source/sessions/processor_factory.h"

#include <gtest/gtest.h>

#include "source/sessions/processor_factory_facade.h"
#include "tests/sessions/session_fixture.h"

namespace dnt::testing {
namespace {

using namespace orv::result;

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
