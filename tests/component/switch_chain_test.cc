// Every DNT service follows every implementation switch and bases update,
// whichever instance it was obtained through, whichever instances the host
// has released since, and whatever a switch was doing when it was created.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/component/component_fixture.h"

namespace dnt::testing {
namespace {

using orv::ComPtr;
using Services = std::vector<ComPtr<IProcessorFactory>>;
using namespace std::chrono_literals;

class SwitchChainTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    for (int g = 0; g <= 4; ++g) generations.push_back(BasesStorage("gen" + std::to_string(g)));
  }
  void TearDown() override {
    tracer->SetObserver(nullptr);
    ComponentTest::TearDown();
  }

  ComPtr<ServiceComponentFacadeImpl> Instance(int generation, const ComPtr<ServiceComponentFacadeImpl>& previous) {
    return Component(generations[generation].Get(), static_cast<IComponentInit*>(previous.Get()));
  }
  void Update(IBasesUpdateHandler2& component, int generation) {
    ASSERT_EQ(component.VerifyBasesUpdate(generations[generation].Get()), 0u);
    ASSERT_EQ(component.HandleBasesUpdate(), 0u);
  }
  static void ExpectAllOn(const Services& services, int generation) {
    const std::u16string expected = u"gen" + std::u16string(1, static_cast<char16_t>(u'0' + generation));
    for (std::size_t i = 0; i < services.size(); ++i) {
      EXPECT_EQ(SessionServiceName(*services[i]), expected) << "service " << i;
    }
  }
  /// Runs `action` on another thread when the `occurrence`th line starting
  /// with `prefix` is written, and lets the writer go on once `action` has
  /// finished or 300 ms have passed, whichever comes first.
  void OnLine(std::string prefix, int occurrence, std::function<void()> action) {
    tracer->SetObserver([this, prefix = std::move(prefix), occurrence, action = std::move(action)](const auto& line) {
      if (line.text.rfind(prefix, 0) != 0 || ++seen != occurrence) return;
      racer = std::thread([this, action] {
        action();
        std::lock_guard lock(raceLock);
        raceDone = true;
        raceFinished.notify_all();
      });
      std::unique_lock lock(raceLock);
      raceFinished.wait_for(lock, 300ms, [this] { return raceDone; });
    });
  }
  bool RaceDone() {
    std::lock_guard lock(raceLock);
    return raceDone;
  }
  void JoinRacer() {
    if (racer.joinable()) racer.join();
  }

  std::vector<ComPtr<host::MemoryDataStorage>> generations;
  std::atomic<int> seen{0};
  std::thread racer;
  std::mutex raceLock;
  std::condition_variable raceFinished;
  bool raceDone = false;
};

TEST_F(SwitchChainTest, ServicesFollowWhenTheHostKeepsOnlyTheNewestInstance) {
  auto first = Instance(0, nullptr);
  Services services{Service(*first)};
  auto second = Instance(1, first);
  services.push_back(Service(*first));
  services.push_back(Service(*second));
  first.Reset();
  ExpectAllOn(services, 1);

  auto third = Instance(2, second);
  services.push_back(Service(*third));
  second.Reset();
  ExpectAllOn(services, 2);
  Update(*third, 3);
  ExpectAllOn(services, 3);
}

TEST_F(SwitchChainTest, ServicesFollowWhenTheHostKeepsItsFirstInstanceAsTheFront) {
  const auto front = Instance(0, nullptr);
  Services services{Service(*front)};
  ComPtr<ServiceComponentFacadeImpl> latest;
  for (int g = 1; g <= 3; ++g) {
    latest = Instance(g, front);  // the host lets the instance before go
    services.push_back(Service(*front));
    services.push_back(Service(*latest));
    ExpectAllOn(services, g);
  }
  Update(*latest, 4);
  ExpectAllOn(services, 4);
  EXPECT_EQ(front->VerifyBasesUpdate(generations[0].Get()), orv::result::InvalidState);
}

// The switch prepares the newer instance, whose engine the front forwards
// to, before the front: a service asked of the front once the newer
// instance has taken stock of its services must not slip past the switch.
TEST_F(SwitchChainTest, AServiceCreatedWhileASwitchIsPreparedFollowsIt) {
  Watchdog watchdog(std::chrono::seconds(60), "a service created during a switch");
  const auto front = Instance(0, nullptr);
  const auto newer = Instance(1, front);
  Services services{Service(*front)};
  ComPtr<IProcessorFactory> raced;
  // The first switch set is the component switch's; the second, the newer
  // instance's own services.
  OnLine("ImplementationSetSwitch(): objects.size() = ", 2, [&] { raced = Service(*front); });
  const auto third = Instance(2, front);
  JoinRacer();
  ASSERT_TRUE(raced);
  services.push_back(raced);
  ExpectAllOn(services, 2);
  const auto fourth = Instance(3, front);
  ExpectAllOn(services, 3);
  Update(*fourth, 4);
  ExpectAllOn(services, 4);
}

// An update that the host runs on the serving instance while a switch away
// from it goes on: success means it reached the engine that served then.
TEST_F(SwitchChainTest, ABasesUpdateRacingASwitchNeverLandsOnADroppedEngine) {
  Watchdog watchdog(std::chrono::seconds(60), "a bases update during a switch");
  const auto front = Instance(0, nullptr);
  const Services services{Service(*front)};
  ComPtr<ServiceComponentFacadeImpl> next;
  OnLine("Engine::CommitBasesSwitch() is called", 1, [&] { next = Instance(2, front); });
  ASSERT_EQ(front->VerifyBasesUpdate(generations[1].Get()), 0u);
  const orv::result_t updated = front->HandleBasesUpdate();
  const bool switchedFirst = RaceDone();
  JoinRacer();
  if (updated == orv::result::NoError) {
    EXPECT_FALSE(switchedFirst) << "the update succeeded on the engine the switch had dropped";
  } else {
    EXPECT_EQ(updated, orv::result::InvalidState);
  }
  ExpectAllOn(services, 2);
}

}  // namespace
}  // namespace dnt::testing
