// --update-url: bases kept fresh from a signed feed. A thread of its own
// checks the feed at start, then every --update-every (give or take a
// tenth, so a fleet does not ask all at once) and on SIGHUP; a set whose
// signature and every file verified goes to the engine as an in-place
// update while traffic flows, and into the state folder, from which the
// next start serves it before any network. Anything refused leaves the
// bases served as they are; every check writes a log line.
#pragma once

#include <CLI/CLI.hpp>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "tools/bases_feed/feed_client.h"
#include "tools/dnt_proxy/access_log.h"
#include "tools/dnt_proxy/feed_status.h"
#include "tools/dnt_proxy/stats.h"
#include "tools/module_host/module_engine.h"

namespace dnt_proxy {

struct BasesFeedOptions {
  std::string url;
  std::string key;
  std::string every = "6h";
  std::string state;
  std::string timeout = "30s";
};

/// Adds --update-url, --update-key, --update-every, --update-state and
/// --update-timeout.
void AddBasesFeedOptions(CLI::App& app, BasesFeedOptions& options);

class BasesFeed {
 public:
  /// Reads the key and the set kept in the state folder. `authorities`:
  /// --upstream-ca. Throws std::runtime_error or std::invalid_argument for
  /// bad options.
  BasesFeed(const BasesFeedOptions& options, const std::string& authorities, AccessLog& log);
  ~BasesFeed();
  BasesFeed(const BasesFeed&) = delete;
  BasesFeed& operator=(const BasesFeed&) = delete;

  /// The verified set the state folder keeps, for the engine to start on;
  /// empty when there is none.
  module_host::BaseFileSet StartFiles() const;
  /// Starts checking, the engine serving what StartFiles gave it.
  void Start(module_host::ModuleEngine& engine, ProxyStats& stats);
  /// Checks now; any thread.
  void Request();
  BasesFeedStatus Status() const;
  /// Ends the check under way and the checking thread; the destructor does
  /// it too.
  void Stop();

 private:
  void Run();
  void Check();
  void Refused(const bases_feed::FeedError& error);

  AccessLog& m_log;
  const std::string m_state;
  const std::chrono::seconds m_every;
  bases_feed::FeedClient m_client;
  // Only the checking thread uses these once it runs.
  std::optional<bases_feed::VerifiedSet> m_serving;
  module_host::ModuleEngine* m_engine = nullptr;
  ProxyStats* m_stats = nullptr;
  std::mt19937_64 m_random{std::random_device{}()};

  mutable std::mutex m_lock;
  std::condition_variable m_wake;
  bool m_requested = false;
  bool m_stopping = false;
  BasesFeedStatus m_status;
  std::thread m_thread;
};

}  // namespace dnt_proxy
