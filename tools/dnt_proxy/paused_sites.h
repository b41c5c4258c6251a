// The sites on which the user paused protection: every request whose page
// is such a site passes untouched, for sessions already open too, and the
// pauses are kept in a small file of the proxy's state folder so that they
// outlive the proxy. Also what the dashboard offers to pause: the sites
// seen recently, with what their pages' requests met.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tools/dnt_proxy/forwarding.h"

namespace dnt_proxy {

/// `host` as pauses name sites: lower case, without a trailing dot or a
/// leading "www."; empty when it is neither a host name nor an address.
std::string SiteOf(std::string_view host);

/// The site of the page a request belongs to, read before the engine strips
/// the fields that tell it: the request's own host for a top-level
/// navigation, else the host of its Referer or Origin, else (a request that
/// names no page, as a typed address does) its own host.
std::string PageSite(const http::fields& fields, std::string_view host);

/// The paused sites of a state file's text, `{"paused": ["example.com"]}`;
/// throws std::runtime_error saying what is wrong with it.
std::vector<std::string> ParsePausedSites(std::string_view text);
std::string PausedSitesText(const std::vector<std::string>& sites);

struct PauseRequest {
  std::string site;
  bool paused = false;
};

/// A pause request's body, `{"site": "example.com", "paused": true}`, its
/// site as SiteOf names it; throws std::invalid_argument saying what is
/// wrong with it.
PauseRequest ParsePauseRequest(std::string_view body);

/// What the requests of one site's pages met.
struct SiteActivity {
  std::string site;
  uint64_t requests = 0;
  /// Those the engine acted on: answered, changed or watched.
  uint64_t trackers = 0;
  uint64_t blocked = 0;
  /// Those that passed untouched because the site is paused.
  uint64_t paused = 0;
  std::chrono::system_clock::time_point lastSeen;
};

struct SitesSnapshot {
  /// In order.
  std::vector<std::string> paused;
  uint64_t pausedRequests = 0;
  /// The most recently seen first.
  std::vector<SiteActivity> recent;
};

class PausedSites {
 public:
  static constexpr const char* FileName = "paused-sites.json";
  /// Pauses kept at most, and sites remembered as recently seen.
  static constexpr std::size_t MaxPaused = 10000;
  static constexpr std::size_t MaxRecent = 256;

  /// Reads the pauses kept in `directory` (none when it is empty: pauses
  /// then last until the proxy stops). A file that cannot be read or is not
  /// one of ours is left alone, `problem` says why, and no site is paused.
  PausedSites(std::filesystem::path directory, std::string& problem);

  /// Whether requests whose page is `site` pass untouched: it, or a site it
  /// is part of, is paused.
  bool Covers(const std::string& site) const;

  /// Pauses or resumes `site` (as SiteOf names it), at once, and keeps the
  /// pauses in the file. Throws std::invalid_argument when too many sites
  /// would be paused, std::runtime_error when the file cannot be written
  /// (the change holds until the proxy stops).
  void Set(const std::string& site, bool paused);

  /// A request of `site`'s page that the engine saw; `tracked`: it acted on
  /// it, `blocked`: it answered it.
  void CountRequest(const std::string& site, bool tracked, bool blocked);
  /// A request of `site`'s page that passed untouched.
  void CountPaused(const std::string& site);

  SitesSnapshot Take() const;
  /// Where the pauses are kept; empty when nowhere.
  std::filesystem::path File() const { return m_file; }

 private:
  SiteActivity& Seen(const std::string& site);
  void Store(const std::vector<std::string>& sites) const;

  const std::filesystem::path m_file;
  // Set() writes the file under this, so that the last list written is the
  // last one made.
  std::mutex m_writing;
  // Checked on every request: no lock at all while nothing is paused.
  std::atomic<bool> m_any{false};
  std::atomic<uint64_t> m_pausedRequests{0};
  mutable std::mutex m_lock;
  std::set<std::string> m_paused;
  std::unordered_map<std::string, SiteActivity> m_recent;
};

}  // namespace dnt_proxy
