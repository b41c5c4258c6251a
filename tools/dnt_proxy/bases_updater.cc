#include "tools/dnt_proxy/bases_updater.h"

namespace dnt_proxy {

BasesUpdater::BasesUpdater(module_host::ModuleEngine& engine, AccessLog& log, ProxyStats& stats, std::string directory)
    : m_engine(engine), m_log(log), m_stats(stats), m_directory(std::move(directory)), m_thread([this] { Run(); }) {}

BasesUpdater::~BasesUpdater() {
  {
    std::lock_guard guard(m_lock);
    m_stopping = true;
  }
  m_wake.notify_one();
  m_thread.join();
}

void BasesUpdater::Request() {
  {
    std::lock_guard guard(m_lock);
    m_requested = true;
  }
  m_wake.notify_one();
}

void BasesUpdater::Run() {
  std::unique_lock lock(m_lock);
  for (;;) {
    m_wake.wait(lock, [this] { return m_requested || m_stopping; });
    if (m_stopping) return;
    m_requested = false;
    lock.unlock();
    try {
      m_engine.UpdateBases();
      m_stats.BasesLoaded(m_engine.BasesBuiltOn(), true);
      ++m_updates;
      m_log.Write("bases", "updated from " + m_directory + " (update " + std::to_string(m_updates) + ")",
                  {{"bases", m_directory}, {"update", m_updates}});
    } catch (const module_host::EngineError& e) {
      m_stats.BasesSwapFailed();
      m_log.Write("bases-error",
                  "the bases in " + m_directory + " did not load, the previous ones still serve: " + e.what(),
                  {{"bases", m_directory}, {"error", e.what()}});
    }
    lock.lock();
  }
}

}  // namespace dnt_proxy
