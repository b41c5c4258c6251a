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

constexpr int Switches = 200;
constexpr int SwitchesPerUpdate = 10;  // then an update in place
constexpr int Steps = Switches + Switches / SwitchesPerUpdate;
constexpr int Workers = 4;

TEST_F(ComponentTest, SessionsKeepTheirBasesWhileBasesAndInstancesChange) {
  Watchdog watchdog(std::chrono::seconds(300), "stress");
  // Every generation of bases names its first service after itself.
  std::vector<ComPtr<host::MemoryDataStorage>> storages;
  for (int g = 0; g <= Steps; ++g) storages.push_back(BasesStorage("gen" + std::to_string(g)));

  // The host keeps its first instance as a front and the latest instance,
  // which owns the bases updates; the instances between are released.
  const ComPtr<ServiceComponentFacadeImpl> front = Component(storages[0].Get());
  std::mutex hostLock;
  ComPtr<ServiceComponentFacadeImpl> latest = front;
  std::vector<ComPtr<IProcessorFactory>> services{Service(*front)};
  std::atomic<bool> stop{false};
  std::atomic<int> sessions{0};

  std::vector<std::thread> workers;
  for (int w = 0; w < Workers; ++w) {
    workers.emplace_back([&, w] {
      for (int round = 0; !stop; ++round) {
        ComPtr<IDntServiceProvider> through = front;
        ComPtr<IProcessorFactory> service;
        {
          std::lock_guard<std::mutex> lock(hostLock);
          if (w % 2) through = latest;
          service = services[static_cast<std::size_t>(round) % services.size()];
        }
        if (round % 8 == 0) {
          // A service obtained in the middle of the switches must follow
          // the rest of them.
          service = Service(*through);
          std::lock_guard<std::mutex> lock(hostLock);
          if (services.size() < 64) services.push_back(service);
        }
        ComPtr<IHttpSessionProcessor> processor;
        const SessionParams params{"a.test", false};
        ASSERT_EQ(service->CreateHttpSessionProcessor(&params, processor.Put()), 0u);
        const std::u16string startedOn = ServiceNameOf(*processor);
        ASSERT_EQ(startedOn.rfind(u"gen", 0), 0u);
        EXPECT_EQ(ServiceNameOf(*processor), startedOn);
        ++sessions;
      }
    });
  }

  for (int g = 1; g <= Steps; ++g) {
    if (g % (SwitchesPerUpdate + 1) == 0) {
      ASSERT_EQ(latest->VerifyBasesUpdate(storages[g].Get()), 0u);
      ASSERT_EQ(latest->HandleBasesUpdate(), 0u);
      continue;
    }
    // Switched from the front or from the latest instance, in turn.
    const ComPtr<ServiceComponentFacadeImpl> previous = g % 3 ? latest : front;
    ComPtr<ServiceComponentFacadeImpl> next =
        Component(storages[g].Get(), static_cast<IComponentInit*>(previous.Get()));
    std::lock_guard<std::mutex> lock(hostLock);
    latest = std::move(next);
  }
  stop = true;
  for (auto& worker : workers) worker.join();
  const std::u16string last = orv::text::Widen("gen" + std::to_string(Steps));
  for (std::size_t i = 0; i < services.size(); ++i) EXPECT_EQ(SessionServiceName(*services[i]), last) << i;
  EXPECT_GT(services.size(), 1u);
  EXPECT_GT(sessions.load(), Workers);
}

}  // namespace
}  // namespace dnt::testing
