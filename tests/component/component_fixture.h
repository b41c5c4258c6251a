// Service components over bases held in a host storage, for the component
// tests: two distinguishable sets of bases, the host services, and the
// check that everything is gone at the end.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host/memory_data_storage.h"
#include "host/packed_io_factory.h"
#include "source/component/service_component_facade.h"
#include "squeeze/container_writer.h"
#include "tests/sessions/session_fixture.h"
#include "tests/support/watchdog.h"

namespace dnt::testing {

// The verdict names the first service of the bases the session runs on.
inline const std::string VerdictNamesFirstService = R"(
return "GetVerdict", function() return function() return {0}, 1 end end)";
inline const std::string RequestAlwaysRuns = R"(
return "RequestProcessor", function() return function() return false end end)";

/// A storage holding a packed bug database whose first service is `name`,
/// and the two scripts above.
inline orv::ComPtr<host::MemoryDataStorage> BasesStorage(const std::string& name) {
  bases_writer::Database db = EngineDatabase();
  db.services[0].name = name;
  db.partnerSites = {name + ".partner.test"};
  auto storage = host::MakeHostObject<host::MemoryDataStorage>();
  storage->AddFile(u"dntbugs.dat", squeeze::PackContainer(bases_writer::Write(db), "dntbugs.dat"));
  storage->AddFile(u"dnt0001.dat",
                   squeeze::PackContainer(ScriptFile({RequestAlwaysRuns, VerdictNamesFirstService}), "dnt0001.dat"));
  return storage;
}

class ComponentTest : public HostTest {
 protected:
  ComponentTest() { locator->Register(orv::ComPtr<orv::IPackedIOFactory>(host::MakeHostObject<host::PackedIOFactory>())); }

  /// A new service component, verified on `storage` when given (and
  /// switched from `previous` when given).
  orv::ComPtr<ServiceComponentFacadeImpl> Component(orv::IDataStorage* storage = nullptr,
                                                    orv::IObject* previous = nullptr) {
    orv::ComPtr<IComponentInit> init;
    EXPECT_EQ(rtl::CreateComponentInstance<ServiceComponentFacadeImpl>(locator.Get(), IComponentInit::iid,
                                                                        init.PutVoid()),
              0u);
    auto component = orv::ComPtr<ServiceComponentFacadeImpl>(static_cast<ServiceComponentFacadeImpl*>(init.Get()));
    if (storage) {
      EXPECT_EQ(component->SetStorage(storage), 0u);
      EXPECT_EQ(component->Verify(previous), 0u);
      EXPECT_EQ(component->Init(previous), 0u);
    }
    return component;
  }

  /// The name in the verdict of a one-request session on `service`.
  static std::u16string SessionServiceName(IProcessorFactory& service) {
    orv::ComPtr<IHttpSessionProcessor> processor;
    const SessionParams params{"a.test", false};
    if (orv::Failed(service.CreateHttpSessionProcessor(&params, processor.Put()))) return u"<no session>";
    return ServiceNameOf(*processor);
  }
  static std::u16string ServiceNameOf(IHttpSessionProcessor& processor) {
    if (orv::Failed(Request("GET http://a.test/ HTTP/1.1").RunOn(processor))) return u"<request failed>";
    TrackingVerdict verdict;
    if (orv::Failed(processor.GetVerdict(&verdict))) return u"<no verdict>";
    return verdict.serviceName;
  }

  static orv::ComPtr<IProcessorFactory> Service(IDntServiceProvider& provider) {
    orv::ComPtr<IProcessorFactory> service;
    const ServiceSettings settings = ServiceSettings::Defaults();
    EXPECT_EQ(provider.CreateDntService(&settings, service.Put()), 0u);
    return service;
  }

};

}  // namespace dnt::testing
