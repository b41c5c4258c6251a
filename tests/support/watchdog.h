// Ends the test program when a scope runs longer than it may, so that a test
// that would hang (an endless script, a deadlock) fails instead of stalling
// the suite.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace dnt::testing {

class Watchdog {
 public:
  Watchdog(std::chrono::seconds limit, std::string what)
      : m_thread([this, limit, what = std::move(what)] {
          std::unique_lock lock(m_lock);
          if (m_done.wait_for(lock, limit, [this] { return m_finished; })) return;
          std::fprintf(stderr, "watchdog: %s did not finish within %lld s\n", what.c_str(),
                       static_cast<long long>(limit.count()));
          std::abort();
        }) {}

  ~Watchdog() {
    {
      std::lock_guard lock(m_lock);
      m_finished = true;
    }
    m_done.notify_one();
    m_thread.join();
  }

  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex m_lock;
  std::condition_variable m_done;
  bool m_finished = false;
  std::thread m_thread;  // last: starts once the members it uses exist
};

}  // namespace dnt::testing
