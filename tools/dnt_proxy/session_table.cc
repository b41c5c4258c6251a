#include "tools/dnt_proxy/session_table.h"

#include "do_not_track/categories.h"

namespace dnt_proxy {
namespace {

std::string SessionKey(const Authority& server, bool tls) { return (tls ? "https://" : "http://") + server.Text(); }

// A name for people, also for a value the SDK does not name.
std::string NameOr(const char* name, uint32_t value) { return name ? name : std::to_string(value); }

}  // namespace

std::optional<module_host::SessionVerdict> LogVerdict(ProxyContext& context, const std::string& client,
                                                      const std::string& domain, module_host::EngineSession& session) {
  try {
    const module_host::SessionVerdict verdict = session.Verdict();
    const std::string name = NameOr(dnt::VerdictName(verdict.verdict), verdict.verdict);
    const std::string category =
        verdict.service ? NameOr(dnt::CategoryName(verdict.service->category), verdict.service->category) : "";
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

SessionTable::~SessionTable() {
  for (ServerSession& session : m_sessions) End(session);
}

ServerSession& SessionTable::SessionWith(const Authority& server, bool tls) {
  std::string key = SessionKey(server, tls);
  if (const auto found = m_byServer.find(key); found != m_byServer.end()) {
    m_sessions.splice(m_sessions.begin(), m_sessions, found->second);
    return m_sessions.front();
  }
  if (m_sessions.size() >= m_context.config.maxSessionsPerClient) {
    End(m_sessions.back());
    m_byServer.erase(SessionKey(m_sessions.back().server, m_sessions.back().tls));
    m_sessions.pop_back();
  }
  ServerSession& session = m_sessions.emplace_front();
  session.server = server;
  session.tls = tls;
  m_byServer.emplace(std::move(key), m_sessions.begin());
  if (m_context.engine) {
    try {
      session.engine = m_context.engine->OpenSession(server.host);
      m_context.stats.SessionOpened();
    } catch (const module_host::EngineError& e) {
      m_context.log.Write("engine-error", server.host + ": " + e.what(), {{"session", server.host}, {"error", e.what()}});
    }
  }
  return session;
}

const module_host::TrackingService* SessionTable::CountRequest(ServerSession& session, bool tracked, bool blocked) {
  ++session.requests;
  if (!session.service && tracked) {
    try {
      session.service = session.engine->Verdict().service;
    } catch (const module_host::EngineError&) {
      // Asked again when the session ends, where a failure is logged.
    }
  }
  if (session.service) CountTracked(session, blocked ? 1 : 0);
  return session.service ? &*session.service : nullptr;
}

void SessionTable::CountTracked(ServerSession& session, uint64_t blocked) {
  m_context.stats.CountTrackerRequests(*session.service, session.requests - session.counted, blocked);
  session.counted = session.requests;
}

void SessionTable::End(ServerSession& session) {
  if (!session.engine) return;
  const auto verdict = LogVerdict(m_context, m_client, session.server.host, *session.engine);
  m_context.stats.SessionEnded(verdict ? std::optional<uint32_t>(verdict->verdict) : std::nullopt);
  if (!session.service && verdict) session.service = verdict->service;
  if (session.service && session.requests > session.counted) CountTracked(session, 0);
}

}  // namespace dnt_proxy
