#include "tools/dnt_scan/scanner.h"

#include "host/http_changes.h"
#include "tools/dnt_scan/request_target.h"

namespace dnt_scan {
namespace {

// The engine answered the message in place of the server.
bool Answered(const host::HttpMessage& message) {
  return message.ForbiddenResponse().has_value() || message.OkResponse().has_value();
}

// Hands the recorded response's fields to the engine and notes what it
// changed; true when it answered in place of the server.
bool ProcessResponse(module_host::EngineSession& session, const TrafficResponse& recorded, std::vector<std::string>& changes) {
  const host::HttpMessage received({}, recorded.fields);
  auto response = std::make_shared<host::HttpMessage>(received);
  session.ProcessResponse(response);
  for (const std::string& change : host::DescribeChanges(received, *response)) changes.push_back("response: " + change);
  return Answered(*response);
}

}  // namespace

Scanner::Scanner(module_host::Engine& engine, std::string input, ScannerOptions options)
    : m_engine(engine), m_options(options) {
  m_report.input = std::move(input);
}

void Scanner::Page(PageInfo page) { NotePage(page.id, page.title); }

void Scanner::Problem(InputProblem problem) { m_report.problems.push_back(std::move(problem)); }

void Scanner::NotePage(const std::string& id, const std::string& title) {
  const auto [it, added] = m_pageIndex.try_emplace(id, m_report.pages.size());
  if (added) {
    m_report.pages.push_back({id, title});
  } else if (!title.empty()) {
    m_report.pages[it->second].title = title;
  }
}

void Scanner::Entry(TrafficEntry entry) {
  NotePage(entry.page, "");
  RequestRecord record;
  record.entry = entry.number;
  record.page = entry.page;
  record.method = entry.method;
  const RequestTarget target = ClassifyUrl(entry.url);
  record.url = std::move(entry.url);
  record.notes = std::move(entry.notes);
  if (!target.scannable) {
    record.action = RequestAction::Skipped;
    record.notes.push_back(target.reason);
  } else {
    if (target.webSocket) record.notes.push_back("the opening handshake of a WebSocket");
    record.session = target.host;
    OpenSession& session = SessionFor(entry.page, target.host, target.secure);
    SessionRecord& sessionRecord = m_report.sessions[session.record];
    record.sessionIndex = session.record;
    ++sessionRecord.requests;
    if (session.session) {
      Process(session, entry, target.requestTarget, record);
    } else if (!sessionRecord.error.empty()) {
      record.action = RequestAction::Failed;
      record.notes.push_back(sessionRecord.error);
    } else {
      record.notes.push_back("not processed: the engine does not ask for encrypted sessions to " + target.host);
    }
  }
  m_report.requests.push_back(std::move(record));
}

Scanner::OpenSession& Scanner::SessionFor(const std::string& page, const std::string& host, bool secure) {
  const std::string key = page + '\n' + host;
  if (const auto found = m_byKey.find(key); found != m_byKey.end()) {
    m_open.splice(m_open.begin(), m_open, found->second);
    return found->second->second;
  }
  SessionRecord record;
  record.page = page;
  record.domain = host;
  std::unique_ptr<module_host::EngineSession> session;
  try {
    if (secure && !m_options.allSessions) {
      const auto [known, added] = m_processingRequired.try_emplace(host, false);
      if (added) known->second = m_engine.ProcessingRequired(host);
      record.processed = known->second;
    }
    if (record.processed) session = m_engine.OpenSession(host);
  } catch (const EngineError& e) {
    record.error = e.what();
  }
  m_open.emplace_front(key, OpenSession{m_report.sessions.size(), std::move(session)});
  m_report.sessions.push_back(std::move(record));
  m_byKey[key] = m_open.begin();
  if (m_open.size() > m_options.maxOpenSessions) Close(std::prev(m_open.end()));
  return m_open.front().second;
}

void Scanner::Close(SessionList::iterator open) {
  if (module_host::EngineSession* session = open->second.session.get()) {
    SessionRecord& record = m_report.sessions[open->second.record];
    try {
      record.verdict = session->Verdict();
    } catch (const EngineError& e) {
      record.error = e.what();
    }
  }
  m_byKey.erase(open->first);
  m_open.erase(open);
}

void Scanner::Process(OpenSession& session, const TrafficEntry& entry, const std::string& requestTarget,
                      RequestRecord& record) {
  const host::HttpMessage sent({requestTarget, entry.method, entry.httpVersion}, entry.fields);
  try {
    auto request = std::make_shared<host::HttpMessage>(sent);
    const bool responseProcessingRequired = session.session->ProcessRequest(request);
    record.changes = host::DescribeChanges(sent, *request);
    bool answered = Answered(*request);
    // A request the engine answered never reaches the server: no response.
    if (!answered && responseProcessingRequired && entry.response) {
      answered = ProcessResponse(*session.session, *entry.response, record.changes);
    }
    record.action = answered                 ? RequestAction::Blocked
                    : record.changes.empty() ? RequestAction::Untouched
                                             : RequestAction::Modified;
  } catch (const EngineError& e) {
    record.action = RequestAction::Failed;
    record.notes.push_back(e.what());
  }
}

ScanReport Scanner::Finish() {
  while (!m_open.empty()) Close(m_open.begin());
  return std::move(m_report);
}

}  // namespace dnt_scan
