#include <gtest/gtest.h>

#include <thread>

#include "tests/component/component_fixture.h"

namespace dnt::testing {
namespace {

using orv::ComPtr;
using namespace orv::result;

std::vector<std::u16string> PartnerSites(IDntBasesInfo& info) {
  std::vector<std::u16string> sites;
  EXPECT_EQ(info.GetPartnerSites(&sites), 0u);
  return sites;
}

TEST_F(ComponentTest, StartsOnAStorageAndAnswersQueries) {
  auto component = Component();
  ComPtr<IWeakReferenceSet> set;
  EXPECT_EQ(component->GetUpdatableSet(set.Put()), 0u);
  EXPECT_FALSE(set);
  std::vector<std::u16string> sites;
  EXPECT_EQ(component->GetPartnerSites(&sites), InvalidState);
  EXPECT_EQ(component->VerifyBasesUpdate(), InvalidState);

  // A storage that fails leaves the component clean for another try.
  auto broken = host::MakeHostObject<host::MemoryDataStorage>();
  EXPECT_EQ(component->SetStorage(broken.Get()), 0u);
  EXPECT_TRUE(orv::Failed(component->Verify(nullptr)));
  auto storage = BasesStorage("Alpha");
  EXPECT_EQ(component->SetStorage(storage.Get()), 0u);
  EXPECT_EQ(component->Verify(nullptr), 0u);
  EXPECT_EQ(component->Verify(nullptr), InvalidState);
  EXPECT_EQ(component->Init(nullptr), 0u);
  EXPECT_NE(tracer->All().find("No IP resolver available"), std::string::npos);
  EXPECT_NE(tracer->All().find("DAR Odurur ver. 1.0.1.0 initialized successfully"), std::string::npos);

  EXPECT_EQ(PartnerSites(*component), std::vector<std::u16string>{u"Alpha.partner.test"});
  uint32_t category = 0;
  EXPECT_EQ(component->GetSiteCategory("http://partner.test/", &category), 0u);
  EXPECT_EQ(category, category::PartnerSite);
  std::vector<SupportedTrackingService> services;
  EXPECT_EQ(component->GetSupportedTrackingServices(category::WebBug, &services), 0u);
  ASSERT_EQ(services.size(), 1u);
  EXPECT_EQ(services[0].name, u"Alpha");
  EXPECT_EQ(SessionServiceName(*Service(*component)), u"Alpha");

  ComPtr<IDntBasesInfo> info;
  ComPtr<IDntBasesInfo> alternate;
  EXPECT_EQ(component->QueryInterface(IDntBasesInfo::iid, info.PutVoid()), 0u);
  EXPECT_EQ(component->QueryInterface(IDntBasesInfo::alternateIid, alternate.PutVoid()), 0u);
  EXPECT_EQ(info, alternate);
  void* raw = nullptr;
  EXPECT_EQ(component->GetRawImplementation(ISwitchableImplementation::iid, &raw), InterfaceNotSupported);
  EXPECT_NE(tracer->All().find("GetRawImplementation(): serviceIid = 0x291deb25"), std::string::npos);
  ComponentVersion version;
  EXPECT_EQ(component->GetVersion(&version), 0u);
  EXPECT_EQ(version.internal, 2u);
}

TEST_F(ComponentTest, BasesUpdateInPlaceServesNewSessionsOnly) {
  auto component = Component(BasesStorage("Alpha").Get());
  const auto service = Service(*component);
  ComPtr<IHttpSessionProcessor> early;
  const SessionParams params{"a.test", false};
  ASSERT_EQ(service->CreateHttpSessionProcessor(&params, early.Put()), 0u);

  EXPECT_EQ(component->HandleBasesUpdate(), ExceptionHasNoResultCode);  // nothing pending
  EXPECT_EQ(component->RollbackUpdate(), 0u);
  EXPECT_EQ(component->VerifyBasesUpdate(BasesStorage("Beta").Get()), 0u);
  EXPECT_EQ(component->VerifyBasesUpdate(BasesStorage("Gamma").Get()), ExceptionHasNoResultCode);
  EXPECT_EQ(PartnerSites(*component), std::vector<std::u16string>{u"Alpha.partner.test"});
  EXPECT_EQ(component->HandleBasesUpdate(), 0u);

  EXPECT_EQ(PartnerSites(*component), std::vector<std::u16string>{u"Beta.partner.test"});
  EXPECT_EQ(SessionServiceName(*service), u"Beta");
  EXPECT_EQ(ServiceNameOf(*early), u"Alpha");

  EXPECT_EQ(component->VerifyBasesUpdate(BasesStorage("Gamma").Get()), 0u);
  EXPECT_EQ(component->RollbackUpdate(), 0u);
  EXPECT_EQ(SessionServiceName(*service), u"Beta");
}

// The chains of switches and updates that services follow are the switch
// chain tests'; here what one switch does to the instance it leaves.
TEST_F(ComponentTest, SwitchToANewInstanceMovesServicesAndUpdates) {
  Watchdog watchdog(std::chrono::seconds(60), "component switch");
  auto first = Component(BasesStorage("Alpha").Get());
  const auto service = Service(*first);
  ComPtr<IHttpSessionProcessor> early;
  const SessionParams params{"a.test", false};
  ASSERT_EQ(service->CreateHttpSessionProcessor(&params, early.Put()), 0u);

  auto second = Component();
  EXPECT_EQ(second->Verify(static_cast<IComponentInit*>(second.Get())), InvalidArgument);
  auto storage = BasesStorage("Beta");
  ASSERT_EQ(second->SetStorage(storage.Get()), 0u);
  ASSERT_EQ(second->Verify(static_cast<IComponentInit*>(first.Get())), 0u);
  // Prepared: the first instance's queries wait until the switch ends.
  std::thread query([&] { EXPECT_EQ(PartnerSites(*first), std::vector<std::u16string>{u"Beta.partner.test"}); });
  ASSERT_EQ(second->Init(static_cast<IComponentInit*>(first.Get())), 0u);
  query.join();

  void* fromFirst = nullptr;
  ASSERT_EQ(first->GetRawImplementation(IDntBasesInfo::iid, &fromFirst), 0u);
  static_cast<IDntBasesInfo*>(fromFirst)->Release();
  // The session opened before keeps the old bases; updates go to the new
  // instance only.
  EXPECT_EQ(ServiceNameOf(*early), u"Alpha");
  EXPECT_EQ(first->VerifyBasesUpdate(), InvalidState);
  EXPECT_NE(tracer->All().find("Invalid component state, database update is not possible"), std::string::npos);
}

TEST_F(ComponentTest, ReleasingAPreparedInstanceRollsTheSwitchBack) {
  Watchdog watchdog(std::chrono::seconds(60), "prepared release");
  auto first = Component(BasesStorage("Alpha").Get());
  {
    auto second = Component();
    auto storage = BasesStorage("Beta");
    ASSERT_EQ(second->SetStorage(storage.Get()), 0u);
    ASSERT_EQ(second->Verify(static_cast<IComponentInit*>(first.Get())), 0u);
  }  // no Init: the second instance dies prepared
  EXPECT_NE(tracer->All().find("ServiceComponentFacadeImpl::FinalRelease(): rolling back"), std::string::npos);
  EXPECT_EQ(PartnerSites(*first), std::vector<std::u16string>{u"Alpha.partner.test"});

  // A failing Verify leaves the first instance unlocked as well.
  auto third = Component();
  auto broken = host::MakeHostObject<host::MemoryDataStorage>();
  ASSERT_EQ(third->SetStorage(broken.Get()), 0u);
  EXPECT_TRUE(orv::Failed(third->Verify(static_cast<IComponentInit*>(first.Get()))));
  EXPECT_EQ(PartnerSites(*first), std::vector<std::u16string>{u"Alpha.partner.test"});
  // A previous instance that never joined a set cannot be switched from.
  auto unverified = Component();
  auto storage = BasesStorage("Beta");
  ASSERT_EQ(third->SetStorage(storage.Get()), 0u);
  EXPECT_EQ(third->Verify(static_cast<IComponentInit*>(unverified.Get())), InvalidState);
}

TEST_F(ComponentTest, SwitchOperationsRefuseMisuse) {
  Watchdog watchdog(std::chrono::seconds(60), "switch misuse");
  auto first = Component(BasesStorage("Alpha").Get());
  auto second = Component(BasesStorage("Beta").Get());
  auto unverified = Component();
  ComPtr<orv::IObject> localStorage;
  auto* newImplementation = static_cast<IComponentInit*>(second.Get());
  EXPECT_EQ(first->PrepareSwitchTo(nullptr, localStorage.Put()), InvalidArgument);
  EXPECT_EQ(first->PrepareSwitchTo(static_cast<IComponentInit*>(first.Get()), localStorage.Put()), InvalidArgument);
  EXPECT_EQ(first->PrepareSwitchTo(static_cast<IComponentInit*>(unverified.Get()), localStorage.Put()), InvalidState);
  EXPECT_EQ(first->CommitSwitch(nullptr), InvalidArgument);  // nothing prepared: the lock is left alone

  ASSERT_EQ(first->PrepareSwitchTo(newImplementation, localStorage.Put()), 0u);
  // The preparing thread would wait for itself.
  std::vector<std::u16string> sites;
  EXPECT_EQ(first->GetPartnerSites(&sites), InvalidState);
  EXPECT_EQ(first->CommitSwitch(nullptr), InvalidArgument);
  EXPECT_EQ(first->CommitSwitch(static_cast<IComponentInit*>(second.Get())), InvalidArgument);
  std::thread([&] { EXPECT_EQ(first->RollbackSwitch(localStorage.Get()), 0u); }).join();
  EXPECT_EQ(first->RollbackSwitch(localStorage.Get()), InvalidArgument);  // already used
  EXPECT_EQ(PartnerSites(*first), std::vector<std::u16string>{u"Alpha.partner.test"});
}

}  // namespace
}  // namespace dnt::testing
