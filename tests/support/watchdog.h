// Fails a test that deadlocks instead of hanging the test run: the whole
// program ends with a message when the guarded scope outlives its deadline.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace dnt::testing {

class Watchdog {
 public:
  explicit Watchdog(const char* what, std::chrono::seconds deadline = std::chrono::seconds(60))
      : m_thread([this, what, deadline] {
          std::unique_lock<std::mutex> lock(m_mutex);
          if (!m_done.wait_for(lock, deadline, [this] { return m_finished; })) {
            std::fprintf(stderr, "watchdog: %s did not finish within %lld s (deadlock?)\n", what,
                         static_cast<long long>(deadline.count()));
            std::fflush(stderr);
            std::_Exit(3);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_finished = true;
    }
    m_done.notify_one();
    m_thread.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex m_mutex;
  std::condition_variable m_done;
  bool m_finished = false;
  std::thread m_thread;
};

}  // namespace dnt::testing
