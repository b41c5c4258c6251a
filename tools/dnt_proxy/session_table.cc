#include "tools/dnt_proxy/session_table.h"

#include "tools/dnt_proxy/stats_report.h"

namespace dnt_proxy {

std::optional<module_host::SessionVerdict> LogVerdict(ProxyContext& context, const std::string& client,
                                                      const std::string& domain, module_host::EngineSession& session) {
  try {
    const module_host::SessionVerdict verdict = session.Verdict();
    const std::string name = VerdictText(verdict.verdict);
    const std::string category = verdict.service ? CategoryText(verdict.service->category) : "";
    std::string text = domain + " (client " + client + "): " + name;
    if (verdict.service) text += ", " + verdict.service->name + " (" + category + ")";
    context.log.Write("verdict", text, [&] {
      nlohmann::json fields = {{"session", domain}, {"client", client}, {"verdict", name}};
      if (verdict.service) {
        fields["service"] = {{"id", verdict.service->id}, {"name", verdict.service->name}, {"category", category}};
      }
      return fields;
    });
    return verdict;
  } catch (const module_host::EngineError& e) {
    context.log.Write("engine-error", domain + ": " + e.what(), {{"session", domain}, {"error", e.what()}});
  }
  return std::nullopt;
}

ServerSession::ServerSession(ProxyContext& context, std::string client, Authority server)
    : m_context(context), m_client(std::move(client)), m_server(std::move(server)) {}

ServerSession::~ServerSession() {
  if (!m_engine) return;
  const auto verdict = LogVerdict(m_context, m_client, m_server.host, *m_engine);
  m_context.stats.SessionEnded(verdict ? std::optional<uint32_t>(verdict->verdict) : std::nullopt);
  if (!m_service && verdict) m_service = verdict->service;
  if (m_service && m_requests > m_counted) CountTracked(0);
}

ServerSession::Call::Call(ServerSession& session) : m_lock(session.m_lock), m_session(session) {
  if (session.m_opened) return;
  session.m_opened = true;
  try {
    session.m_engine = session.m_context.engine->OpenSession(session.m_server.host);
    session.m_context.stats.SessionOpened();
  } catch (const module_host::EngineError& e) {
    session.m_context.log.Write("engine-error", session.m_server.host + ": " + e.what(),
                                {{"session", session.m_server.host}, {"error", e.what()}});
  }
}

const module_host::TrackingService* ServerSession::Call::CountRequest(bool tracked, bool blocked) {
  ServerSession& session = m_session;
  ++session.m_requests;
  if (!session.m_service && tracked) {
    try {
      session.m_service = session.m_engine->Verdict().service;
    } catch (const module_host::EngineError&) {
      // Asked again when the session ends, where a failure is logged.
    }
  }
  if (session.m_service) session.CountTracked(blocked ? 1 : 0);
  return session.m_service ? &*session.m_service : nullptr;
}

void ServerSession::CountTracked(uint64_t blocked) {
  m_context.stats.CountTrackerRequests(*m_service, m_requests - m_counted, blocked);
  m_counted = m_requests;
}

SessionTable::~SessionTable() {
  Ended ended;
  std::lock_guard guard(m_lock);
  for (auto& [key, entry] : m_entries) ended.push_back(std::move(entry.session));
  m_entries.clear();
  m_recent.clear();
  m_byClient.clear();
}

std::shared_ptr<ServerSession> SessionTable::Acquire(const std::string& client, const Authority& server, bool tls) {
  std::string key;
  key.reserve(client.size() + server.host.size() + 16);
  key.append(client).append(tls ? " https://" : " http://").append(server.host).append(":").append(std::to_string(server.port));
  std::string clientText = client;
  const uint64_t bases = m_context.stats.BasesSwaps();
  const auto now = std::chrono::steady_clock::now();
  Ended ended;  // after the lock is released
  std::lock_guard guard(m_lock);
  if (const auto found = m_entries.find(key); found != m_entries.end()) {
    if (found->second.bases == bases) {
      Touch(found->second, now);
      return found->second.session;
    }
    Drop(found->second, ended);
  }
  for (;;) {
    const auto own = m_byClient.find(clientText);
    if (own == m_byClient.end() || own->second.size() < m_limits.perClient) break;
    Drop(*own->second.back(), ended);
  }
  while (m_entries.size() >= m_limits.total) Drop(*m_recent.back(), ended);
  Entry& entry = m_entries[key];
  entry.key = std::move(key);
  entry.client = clientText;
  entry.session = std::make_shared<ServerSession>(m_context, std::move(clientText), server);
  entry.bases = bases;
  entry.used = now;
  entry.inRecent = m_recent.insert(m_recent.begin(), &entry);
  auto& own = m_byClient[entry.client];
  entry.inClient = own.insert(own.begin(), &entry);
  return entry.session;
}

void SessionTable::EndIdle(std::chrono::steady_clock::time_point now) {
  Ended ended;
  std::lock_guard guard(m_lock);
  while (!m_recent.empty() && now - m_recent.back()->used >= m_limits.idle) {
    Entry& entry = *m_recent.back();
    // Only the table holds it, and only the table hands it out.
    if (entry.session.use_count() > 1) {
      Touch(entry, now);
    } else {
      Drop(entry, ended);
    }
  }
}

std::size_t SessionTable::Size() const {
  std::lock_guard guard(m_lock);
  return m_entries.size();
}

void SessionTable::Touch(Entry& entry, std::chrono::steady_clock::time_point now) {
  entry.used = now;
  m_recent.splice(m_recent.begin(), m_recent, entry.inRecent);
  auto& own = m_byClient[entry.client];
  own.splice(own.begin(), own, entry.inClient);
}

void SessionTable::Drop(Entry& entry, Ended& ended) {
  ended.push_back(std::move(entry.session));
  m_recent.erase(entry.inRecent);
  const auto own = m_byClient.find(entry.client);
  own->second.erase(entry.inClient);
  if (own->second.empty()) m_byClient.erase(own);
  m_entries.erase(m_entries.find(entry.key));  // last: `entry` goes with it
}

}  // namespace dnt_proxy
