#include "tools/dnt_proxy/session_table.h"

#include "do_not_track/categories.h"

namespace dnt_proxy {
namespace {

// A name for people, also for a value the SDK does not name.
std::string NameOr(const char* name, uint32_t value) { return name ? name : std::to_string(value); }

}  // namespace

void LogVerdict(ProxyContext& context, const std::string& client, const std::string& domain,
                module_host::EngineSession& session) {
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
  } catch (const module_host::EngineError& e) {
    context.log.Write("engine-error", domain + ": " + e.what(), {{"session", domain}, {"error", e.what()}});
  }
}

SessionTable::~SessionTable() {
  for (ServerSession& session : m_sessions) End(session);
}

ServerSession& SessionTable::SessionWith(const Authority& server) {
  std::string key = server.Text();
  if (const auto found = m_byServer.find(key); found != m_byServer.end()) {
    m_sessions.splice(m_sessions.begin(), m_sessions, found->second);
    return m_sessions.front();
  }
  if (m_sessions.size() >= m_context.config.maxSessionsPerClient) {
    End(m_sessions.back());
    m_byServer.erase(m_sessions.back().server.Text());
    m_sessions.pop_back();
  }
  ServerSession& session = m_sessions.emplace_front(ServerSession{server, nullptr, std::nullopt});
  m_byServer.emplace(std::move(key), m_sessions.begin());
  if (m_context.engine) {
    try {
      session.engine = m_context.engine->OpenSession(server.host);
    } catch (const module_host::EngineError& e) {
      m_context.log.Write("engine-error", server.host + ": " + e.what(), {{"session", server.host}, {"error", e.what()}});
    }
  }
  return session;
}

void SessionTable::End(ServerSession& session) {
  if (session.engine) LogVerdict(m_context, m_client, session.server.host, *session.engine);
}

}  // namespace dnt_proxy
