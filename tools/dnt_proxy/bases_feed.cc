#include "tools/dnt_proxy/bases_feed.h"

#include <cstdlib>
#include <filesystem>

#include "tools/bases_feed/feed_error.h"

namespace dnt_proxy {
namespace {

namespace fs = std::filesystem;
using namespace bases_feed;
using Clock = std::chrono::steady_clock;

std::string DefaultState() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) return (fs::path(state) / "dnt-proxy" / "bases").string();
  if (const char* home = std::getenv("HOME"); home && *home) return (fs::path(home) / ".local/state/dnt-proxy/bases").string();
  throw std::invalid_argument("--update-url needs --update-state DIR: there is no home folder for its state");
}

std::string Milliseconds(Clock::duration time) {
  return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(time).count()) + " ms";
}

Key ReadKey(const std::string& path) {
  if (path.empty()) throw std::invalid_argument("--update-url needs --update-key, the publisher's bases.pub");
  return ReadPublicKey(path);
}

}  // namespace

void AddBasesFeedOptions(CLI::App& app, BasesFeedOptions& options) {
  app.add_option("--update-url", options.url,
                 "keep the bases fresh from the signed feed at this https:// folder (made by dntbases publish)");
  app.add_option("--update-key", options.key, "the feed publisher's public key (bases.pub of dntbases keygen)");
  app.add_option("--update-every", options.every, "how often to check the feed: s, m or h")->capture_default_str();
  app.add_option("--update-state", options.state,
                 "the folder that keeps the last good set (default: ~/.local/state/dnt-proxy/bases)");
  app.add_option("--update-timeout", options.timeout, "time limit of each answer of the feed's server: s, m or h")
      ->capture_default_str();
}

BasesFeed::BasesFeed(const BasesFeedOptions& options, const std::string& authorities, AccessLog& log)
    : m_log(log),
      m_state(options.state.empty() ? DefaultState() : options.state),
      m_every(ParseDuration(options.every, false)),
      m_client(options.url, ReadKey(options.key), authorities,
               std::chrono::duration_cast<std::chrono::milliseconds>(ParseDuration(options.timeout, false))) {
  m_status.url = m_client.FeedUrl().Text();
  std::string problem;
  m_serving = LoadStoredSet(m_state, m_client.PublicKey(), problem);
  if (m_serving) {
    const Manifest& manifest = m_serving->manifest;
    m_status.version = manifest.version;
    m_status.created = manifest.created;
    m_status.expires = manifest.expires;
    m_log.Write("bases-feed",
                "serving version " + std::to_string(manifest.version) + " kept in " + m_state + " (made " +
                    UtcText(manifest.created) + ") until the feed has a newer one",
                {{"version", manifest.version}, {"state", m_state}});
  } else if (!problem.empty()) {
    m_log.Write("warning", "the bases kept in " + m_state + " are not used: " + problem,
                {{"state", m_state}, {"error", problem}});
  }
  if (!m_client.FeedUrl().tls) {
    m_log.Write("warning", "the bases feed " + m_status.url + " is plain http://: for tests on this machine only",
                {{"url", m_status.url}});
  }
}

BasesFeed::~BasesFeed() { Stop(); }

void BasesFeed::Stop() {
  {
    std::lock_guard guard(m_lock);
    m_stopping = true;
  }
  m_client.Stop();
  m_wake.notify_one();
  if (m_thread.joinable()) m_thread.join();
}

module_host::BaseFileSet BasesFeed::StartFiles() const {
  module_host::BaseFileSet files;
  if (!m_serving) return files;
  for (std::size_t i = 0; i < m_serving->files.size(); ++i) {
    files.push_back({m_serving->manifest.files[i].name, m_serving->files[i]});
  }
  return files;
}

void BasesFeed::Start(module_host::ModuleEngine& engine, ProxyStats& stats) {
  m_engine = &engine;
  m_stats = &stats;
  m_log.Write("bases-feed", "checking " + m_status.url + " at start, every " + std::to_string(m_every.count()) +
                                " s and on SIGHUP; the last good set is kept in " + m_state,
              {{"url", m_status.url}, {"everySeconds", m_every.count()}, {"state", m_state}});
  m_thread = std::thread([this] { Run(); });
}

void BasesFeed::Request() {
  {
    std::lock_guard guard(m_lock);
    m_requested = true;
  }
  m_wake.notify_one();
}

BasesFeedStatus BasesFeed::Status() const {
  std::lock_guard guard(m_lock);
  return m_status;
}

void BasesFeed::Run() {
  std::uniform_real_distribution<double> jitter(0.9, 1.1);
  auto next = Clock::now();
  std::unique_lock lock(m_lock);
  for (;;) {
    m_wake.wait_until(lock, next, [&] { return m_requested || m_stopping || Clock::now() >= next; });
    if (m_stopping) return;
    m_requested = false;
    lock.unlock();
    try {
      Check();
    } catch (const Stopped&) {
      return;
    }
    lock.lock();
    next = Clock::now() + std::chrono::duration_cast<Clock::duration>(m_every * jitter(m_random));
  }
}

void BasesFeed::Check() {
  const auto started = Clock::now();
  const uint64_t serving = m_serving ? m_serving->manifest.version : 0;
  try {
    std::optional<VerifiedSet> fetched = m_client.Check(m_serving ? &*m_serving : nullptr);
    if (!fetched) {
      m_log.Write("bases-feed", "version " + std::to_string(serving) + " at " + m_status.url + " is unchanged",
                  {{"version", serving}, {"result", "unchanged"}});
      std::lock_guard guard(m_lock);
      ++m_status.checks;
      m_status.lastCheck = std::chrono::system_clock::now();
      m_status.lastResult = "unchanged";
      return;
    }
    const Manifest& manifest = fetched->manifest;
    module_host::BaseFileSet files;
    for (std::size_t i = 0; i < fetched->files.size(); ++i) files.push_back({manifest.files[i].name, fetched->files[i]});
    try {
      m_engine->UpdateBases(files);
    } catch (const module_host::EngineError& e) {
      throw FeedError(Failure::Load, "version " + std::to_string(manifest.version) + " is signed but did not load: " + e.what());
    }
    m_stats->BasesLoaded(m_engine->BasesBuiltOn(), true);
    m_serving = std::move(fetched);
    {
      std::lock_guard guard(m_lock);
      ++m_status.checks;
      ++m_status.updates;
      m_status.lastCheck = std::chrono::system_clock::now();
      m_status.lastResult = "updated";
      m_status.version = manifest.version;
      m_status.created = manifest.created;
      m_status.expires = manifest.expires;
    }
    m_log.Write("bases-feed",
                "version " + std::to_string(manifest.version) + " from " + m_status.url + " serves now (was " +
                    std::to_string(serving) + "; made " + UtcText(manifest.created) + ", expires " +
                    UtcText(manifest.expires) + "; " + Milliseconds(Clock::now() - started) + ")",
                {{"version", manifest.version}, {"previous", serving}, {"result", "updated"}});
    StoreSet(m_state, *m_serving);
  } catch (const FeedError& error) {
    Refused(error);
  }
}

void BasesFeed::Refused(const FeedError& error) {
  const std::string reason = FailureName(error.Reason());
  uint64_t serving = 0;
  {
    std::lock_guard guard(m_lock);
    const auto now = std::chrono::system_clock::now();
    // A state folder that cannot be written does not undo the update made.
    if (error.Reason() != Failure::State) {
      ++m_status.checks;
      m_status.lastCheck = now;
      m_status.lastResult = "refused";
    }
    ++m_status.failures[static_cast<std::size_t>(error.Reason())];
    m_status.lastFailureTime = now;
    m_status.lastFailureReason = reason;
    m_status.lastFailure = error.what();
    serving = m_status.version;
  }
  const std::string served = serving ? "version " + std::to_string(serving) : "the bases served";
  m_log.Write("bases-refused", reason + ": " + error.what() + "; " + served + " still serve" + (serving ? "s" : ""),
              {{"reason", reason}, {"error", error.what()}, {"version", serving}});
}

}  // namespace dnt_proxy
