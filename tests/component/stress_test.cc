// Hosts threads open sessions while another thread replaces the bases in
// place and switches the component to new instances, many times over.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "orv/text/utf.h"
#include "tests/component/component_fixture.h"

namespace dnt::testing {
namespace {

using orv::ComPtr;

constexpr int Updates = 200;
constexpr int Workers = 4;

TEST_F(ComponentTest, SessionsKeepTheirBasesWhileBasesAndInstancesChange) {
  Watchdog watchdog(std::chrono::seconds(300), "stress");
  // Every generation of bases names its first service after itself.
  std::vector<ComPtr<host::MemoryDataStorage>> storages;
  for (int g = 0; g <= Updates; ++g) storages.push_back(BasesStorage("gen" + std::to_string(g)));

  // The host keeps its first instance as the front it serves from, and the
  // latest instance, which owns the bases updates.
  const ComPtr<ServiceComponentFacadeImpl> front = Component(storages[0].Get());
  ComPtr<ServiceComponentFacadeImpl> latest = front;
  const ComPtr<IProcessorFactory> firstService = Service(*front);
  std::mutex serviceLock;
  ComPtr<IProcessorFactory> latestService = firstService;
  std::atomic<bool> stop{false};
  std::atomic<int> sessions{0};

  std::vector<std::thread> workers;
  for (int w = 0; w < Workers; ++w) {
    workers.emplace_back([&, w] {
      while (!stop) {
        ComPtr<IProcessorFactory> service = firstService;
        if (w % 2) {
          std::lock_guard<std::mutex> lock(serviceLock);
          service = latestService;
        }
        ComPtr<IHttpSessionProcessor> processor;
        const SessionParams params{"a.test", false};
        ASSERT_EQ(service->CreateHttpSessionProcessor(&params, processor.Put()), 0u);
        const std::u16string startedOn = ServiceNameOf(*processor);
        ASSERT_EQ(startedOn.rfind(u"gen", 0), 0u);
        ServiceNameOf(*processor);
        EXPECT_EQ(ServiceNameOf(*processor), startedOn);
        ++sessions;
      }
    });
  }

  for (int g = 1; g <= Updates; ++g) {
    if (g % 2) {
      ASSERT_EQ(latest->VerifyBasesUpdate(storages[g].Get()), 0u);
      ASSERT_EQ(latest->HandleBasesUpdate(), 0u);
    } else {
      ComPtr<ServiceComponentFacadeImpl> next = Component(storages[g].Get(), static_cast<IComponentInit*>(latest.Get()));
      ComPtr<IProcessorFactory> service = Service(*next);
      {
        std::lock_guard<std::mutex> lock(serviceLock);
        latestService = std::move(service);
      }
      latest = std::move(next);
    }
  }
  // Every switch reached the front's service.
  EXPECT_EQ(SessionServiceName(*firstService), orv::text::Widen("gen" + std::to_string(Updates)));
  stop = true;
  for (auto& worker : workers) worker.join();
  EXPECT_GT(sessions.load(), Workers);
}

}  // namespace
}  // namespace dnt::testing
