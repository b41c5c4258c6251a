#include "tools/dnt_proxy/paused_sites.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace dnt_proxy {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A list of pauses is a few lines; anything much larger is not ours.
constexpr std::size_t MaxFileSize = 1 << 20;
constexpr std::size_t MaxPauseBody = 4096;

json Parse(std::string_view text) {
  json parsed = json::parse(text.begin(), text.end(), nullptr, false);
  if (parsed.is_discarded()) throw std::runtime_error("it is not JSON");
  return parsed;
}

// `text` when SiteOf keeps it as it is: a site in the form pauses name it.
bool IsSite(const std::string& text) { return !text.empty() && SiteOf(text) == text; }

}  // namespace

std::string SiteOf(std::string_view host) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  std::string text(host);
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  if (IsIpAddress(text)) return text;
  std::optional<std::string> name = HostName(text);
  if (!name || name->empty() || name->front() == '.' || name->back() == '.' || name->find("..") != std::string::npos) {
    return {};
  }
  while (name->rfind("www.", 0) == 0 && name->find('.', 4) != std::string::npos) name->erase(0, 4);
  return *name;
}

std::string PageSite(const http::fields& fields, std::string_view host) {
  const auto field = [&](std::string_view name) { return View(fields[boost::beast::string_view(name.data(), name.size())]); };
  if (field("Sec-Fetch-Dest") == "document") return SiteOf(host);
  for (const std::string_view name : {"Referer", "Origin"}) {
    if (const auto url = ParseHttpUrl(field(name))) return SiteOf(url->server.host);
  }
  return SiteOf(host);
}

std::vector<std::string> ParsePausedSites(std::string_view text) {
  if (text.size() > MaxFileSize) throw std::runtime_error("it is larger than " + std::to_string(MaxFileSize) + " bytes");
  const json parsed = Parse(text);
  if (!parsed.is_object() || !parsed.contains("paused") || !parsed["paused"].is_array()) {
    throw std::runtime_error("it holds no \"paused\" list");
  }
  std::set<std::string> sites;
  for (const json& site : parsed["paused"]) {
    if (!site.is_string() || !IsSite(site.get<std::string>())) {
      throw std::runtime_error("its \"paused\" list holds " + site.dump(-1, ' ', false, json::error_handler_t::replace) +
                               ", which is no site");
    }
    sites.insert(site.get<std::string>());
  }
  if (sites.size() > PausedSites::MaxPaused) {
    throw std::runtime_error("it pauses more than " + std::to_string(PausedSites::MaxPaused) + " sites");
  }
  return {sites.begin(), sites.end()};
}

std::string PausedSitesText(const std::vector<std::string>& sites) { return json{{"paused", sites}}.dump(2) + "\n"; }

PauseRequest ParsePauseRequest(std::string_view body) {
  if (body.size() > MaxPauseBody) throw std::invalid_argument("the request is too large");
  json parsed;
  try {
    parsed = Parse(body);
  } catch (const std::runtime_error& e) {
    throw std::invalid_argument(std::string("the request: ") + e.what());
  }
  if (!parsed.is_object() || !parsed.contains("site") || !parsed["site"].is_string() || !parsed.contains("paused") ||
      !parsed["paused"].is_boolean()) {
    throw std::invalid_argument("the request takes {\"site\": \"example.com\", \"paused\": true or false}");
  }
  PauseRequest request{SiteOf(parsed["site"].get<std::string>()), parsed["paused"].get<bool>()};
  if (request.site.empty()) throw std::invalid_argument("\"site\" is no host name or address");
  return request;
}

PausedSites::PausedSites(fs::path directory, std::string& problem)
    : m_file(directory.empty() ? fs::path() : directory / FileName) {
  if (m_file.empty()) return;
  std::error_code error;
  if (!fs::exists(m_file, error) && !error) return;
  try {
    std::ifstream in(m_file, std::ios::binary);
    if (!in.is_open()) throw std::runtime_error("it cannot be opened");
    std::string text(MaxFileSize + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) throw std::runtime_error("it cannot be read");
    text.resize(static_cast<std::size_t>(in.gcount()));
    const std::vector<std::string> sites = ParsePausedSites(text);
    m_paused.insert(sites.begin(), sites.end());
    m_any = !m_paused.empty();
  } catch (const std::exception& e) {
    problem = e.what();
  }
}

bool PausedSites::Covers(const std::string& site) const {
  if (!m_any || site.empty()) return false;
  std::lock_guard guard(m_lock);
  if (m_paused.count(site)) return true;
  if (IsIpAddress(site)) return false;
  // An address covers itself only.
  for (std::size_t dot = site.find('.'); dot != std::string::npos; dot = site.find('.', dot + 1)) {
    const std::string parent = site.substr(dot + 1);
    if (m_paused.count(parent) && !IsIpAddress(parent)) return true;
  }
  return false;
}

void PausedSites::Set(const std::string& site, bool paused) {
  std::lock_guard writing(m_writing);
  std::vector<std::string> sites;
  {
    std::lock_guard guard(m_lock);
    if (paused && !m_paused.count(site) && m_paused.size() >= MaxPaused) {
      throw std::invalid_argument("no more than " + std::to_string(MaxPaused) + " sites can be paused");
    }
    if (paused) {
      m_paused.insert(site);
    } else {
      m_paused.erase(site);
    }
    m_any = !m_paused.empty();
    sites.assign(m_paused.begin(), m_paused.end());
  }
  Store(sites);
}

// Written whole beside the file, then put in its place: a crash leaves the
// old list or the new one, never half of one.
void PausedSites::Store(const std::vector<std::string>& sites) const {
  if (m_file.empty()) return;
  std::error_code error;
  fs::create_directories(m_file.parent_path(), error);
  const fs::path next = m_file.string() + ".new";
  {
    std::ofstream out(next, std::ios::binary | std::ios::trunc);
    out << PausedSitesText(sites);
    out.flush();
    if (!out) throw std::runtime_error("cannot write " + next.string());
  }
  fs::rename(next, m_file, error);
  if (error) throw std::runtime_error("cannot replace " + m_file.string() + ": " + error.message());
}

SiteActivity& PausedSites::Seen(const std::string& site) {
  auto found = m_recent.find(site);
  if (found == m_recent.end()) {
    // Many sites seen once must not grow the list: the one seen longest ago
    // makes room.
    if (m_recent.size() >= MaxRecent) {
      m_recent.erase(std::min_element(m_recent.begin(), m_recent.end(), [](const auto& a, const auto& b) {
        return a.second.lastSeen < b.second.lastSeen;
      }));
    }
    SiteActivity activity;
    activity.site = site;
    found = m_recent.emplace(site, std::move(activity)).first;
  }
  found->second.lastSeen = std::chrono::system_clock::now();
  return found->second;
}

void PausedSites::CountRequest(const std::string& site, bool tracked, bool blocked) {
  if (site.empty()) return;
  std::lock_guard guard(m_lock);
  SiteActivity& activity = Seen(site);
  ++activity.requests;
  activity.trackers += tracked;
  activity.blocked += blocked;
}

void PausedSites::CountPaused(const std::string& site) {
  ++m_pausedRequests;
  std::lock_guard guard(m_lock);
  SiteActivity& activity = Seen(site);
  ++activity.requests;
  ++activity.paused;
}

SitesSnapshot PausedSites::Take() const {
  SitesSnapshot snapshot;
  snapshot.pausedRequests = m_pausedRequests;
  std::lock_guard guard(m_lock);
  snapshot.paused.assign(m_paused.begin(), m_paused.end());
  snapshot.recent.reserve(m_recent.size());
  for (const auto& [site, activity] : m_recent) snapshot.recent.push_back(activity);
  std::sort(snapshot.recent.begin(), snapshot.recent.end(), [](const SiteActivity& a, const SiteActivity& b) {
    return a.lastSeen != b.lastSeen ? a.lastSeen > b.lastSeen : a.site < b.site;
  });
  return snapshot;
}

}  // namespace dnt_proxy
