// Bases swapped while the proxy serves. On request (SIGHUP, a change in the
// bases directory) the engine loads the bases directory again, in place, on
// a thread of its own so that serving goes on meanwhile. One update runs at
// a time; requests that come while it runs make one more update after it.
// Bases that fail to load are rolled back: the proxy serves on the old ones.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "tools/dnt_proxy/access_log.h"
#include "tools/dnt_proxy/stats.h"
#include "tools/module_host/module_engine.h"

namespace dnt_proxy {

class BasesUpdater {
 public:
  BasesUpdater(module_host::ModuleEngine& engine, AccessLog& log, ProxyStats& stats, std::string directory);
  ~BasesUpdater();
  BasesUpdater(const BasesUpdater&) = delete;
  BasesUpdater& operator=(const BasesUpdater&) = delete;

  /// Asks for an update; safe from any thread.
  void Request();

 private:
  void Run();

  module_host::ModuleEngine& m_engine;
  AccessLog& m_log;
  ProxyStats& m_stats;
  const std::string m_directory;
  std::mutex m_lock;
  std::condition_variable m_wake;
  bool m_requested = false;
  bool m_stopping = false;
  unsigned m_updates = 0;
  std::thread m_thread;  // last: starts once the members it uses exist
};

}  // namespace dnt_proxy
