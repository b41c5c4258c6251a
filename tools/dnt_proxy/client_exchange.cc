// The part of a client connection that forwards a request to its server and
// relays the answer: the engine's say on the request, the connection to the
// server, then the request body and the response relayed side by side.
#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include "tools/dnt_proxy/client_connection.h"
#include "tools/dnt_proxy/replies.h"

namespace dnt_proxy {
namespace {

constexpr std::size_t UpstreamBufferLimit = MaxHead + 4096;

// The request's body goes on as the client delimited it.
void SetRequestFraming(http::request<http::buffer_body>& header, const RequestParser& parser) {
  if (parser.chunked()) {
    header.chunked(true);
  } else {
    header.content_length(parser.content_length());
  }
}

// A connection is reused only when nothing has come from its server since
// its last answer ended: bytes beyond an answer would be taken for the
// next one, and an end means the server closed it while it idled.
bool Reusable(Upstream& upstream) {
  auto& socket = upstream.stream.socket();
  if (!socket.is_open() || upstream.buffer.size() != 0) return false;
  beast::error_code error;
  // Set once per connection: each setting is a system call.
  if (!socket.non_blocking()) socket.non_blocking(true, error);
  char byte;
  socket.receive(boost::asio::buffer(&byte, 1), tcp::socket::message_peek, error);
  if (error != boost::asio::error::would_block) return false;
  return !upstream.stream.IsTls() || SSL_pending(upstream.stream.TlsLayer().native_handle()) == 0;
}

bool Reconnectable(beast::error_code error) {
  return error == http::error::end_of_stream || net_stream::IsStreamEnd(error) || error == boost::asio::error::connection_reset ||
         error == boost::asio::error::broken_pipe;
}

// Sent once more only when sending it twice does no harm, and nothing of it
// is gone: a body read from the client went to the connection that failed.
bool Resendable(const RequestParser& request) {
  switch (request.get().method()) {
    case http::verb::get:
    case http::verb::head:
    case http::verb::options:
    case http::verb::trace:
    case http::verb::put:
    case http::verb::delete_:
      break;
    default:
      return false;
  }
  return !request.chunked() && request.content_length().value_or(0) == 0;
}

}  // namespace

void ClientConnection::Forward(HttpUrl url) {
  m_url = std::move(url);
  auto& header = m_request->get();
  m_upgrade = IsWebSocketUpgrade(header);
  RemoveHopByHop(header, m_upgrade);
  header.set(http::field::host, HostField(m_url.server, m_url.tls));
  m_context.stats.CountRequest(m_url.tls);
  if (m_context.sessions) {
    // Read before the engine strips the Referer that tells it.
    const std::string site = m_context.sites ? PageSite(header, m_url.server.host) : std::string();
    if (m_context.sites && m_context.sites->Covers(site)) {
      m_context.sites->CountPaused(site);
    } else {
      m_session = m_context.sessions->Acquire(m_clientAddressText, m_url.server, m_url.tls);
      if (!AskEngine(site)) return;
    }
  }
  header.target(m_url.originTarget);
  header.version(11);
  AddVia(header);
  SetRequestFraming(header, *m_request);
  // The server the engine may have rewritten the request to.
  DropIdleUpstreams();
  Upstream* upstream = UpstreamTo(m_url.server, m_url.tls);
  if (upstream && Reusable(*upstream)) {
    m_upstream = upstream;
    return SendRequestHead();
  }
  m_upstream = &NewUpstream(m_url.server, m_url.tls);
  Connect(*m_upstream, [this] { SendRequestHead(); });
}

Upstream* ClientConnection::UpstreamTo(const Authority& server, bool tls) {
  const auto found = m_upstreamIndex.find({server.host, server.port, tls});
  if (found == m_upstreamIndex.end()) return nullptr;
  m_upstreams.splice(m_upstreams.begin(), m_upstreams, found->second);
  return &m_upstreams.front();
}

// Replaces the connection to `server`, if there is one.
Upstream& ClientConnection::NewUpstream(const Authority& server, bool tls) {
  DropUpstream(server, tls);
  // The least recently used connection makes room, within this client
  // connection's bound and within the whole process's.
  if (!m_upstreams.empty() && (m_upstreams.size() >= m_context.config.maxServersPerConnection ||
                               ServerConnectionsOpen() >= m_context.config.maxServerConnections)) {
    DropUpstream(m_upstreams.back().server, m_upstreams.back().tls);
  }
  Upstream& upstream = m_upstreams.emplace_front(m_stream.get_executor(), server, tls, m_context.stats);
  upstream.buffer.max_size(UpstreamBufferLimit);
  m_upstreamIndex.emplace(ServerKey{upstream.server.host, upstream.server.port, tls}, m_upstreams.begin());
  return upstream;
}

void ClientConnection::DropUpstream(const Authority& server, bool tls) {
  const auto found = m_upstreamIndex.find({server.host, server.port, tls});
  if (found == m_upstreamIndex.end()) return;
  const auto upstream = found->second;
  m_upstreamIndex.erase(found);  // before the host it views goes
  m_upstreams.erase(upstream);
}

std::size_t ClientConnection::ServerConnectionsOpen() const {
  return static_cast<std::size_t>(std::max<int64_t>(m_context.stats.ServerConnectionsOpen(), 0));
}

// Servers close connections that idle; the proxy closes them first, and
// holds no socket for a server the client has left.
void ClientConnection::DropIdleUpstreams() {
  const auto since = std::chrono::steady_clock::now() - m_context.config.serverIdle;
  while (!m_upstreams.empty() && m_upstreams.back().lastUsed < since) {
    DropUpstream(m_upstreams.back().server, m_upstreams.back().tls);
  }
}

bool ClientConnection::AskEngine(const std::string& site) {
  auto& header = m_request->get();
  const std::string method(header.method_string());
  try {
    RequestOutcome outcome;
    const module_host::TrackingService* service = nullptr;
    {
      ServerSession::Call call(*m_session);
      if (!call.Engine()) return true;
      const auto start = std::chrono::steady_clock::now();
      outcome = ProcessRequest(*call.Engine(), header, m_url.text);
      m_context.stats.TimeEngine(EngineCall::Request, std::chrono::steady_clock::now() - start);
      const bool tracked = outcome.answer || !outcome.changes.empty() || outcome.responseProcessingRequired;
      service = call.CountRequest(tracked, outcome.answer.has_value());
      if (m_context.sites) m_context.sites->CountRequest(site, tracked, outcome.answer.has_value());
    }
    if (!outcome.answerMended.empty()) {
      m_context.log.Write("engine-error", method + " " + m_url.text + ": " + outcome.answerMended,
                          {{"method", method}, {"url", m_url.text}, {"error", outcome.answerMended}});
    }
    if (outcome.answer) {
      m_context.stats.CountBlocked({std::chrono::system_clock::now(), method, m_url.text, outcome.answer->status,
                                    service ? service->name : "", service ? service->category : 0});
      m_context.log.Write("blocked",
                          method + " " + m_url.text + " (client " + m_client + "): " +
                              std::to_string(outcome.answer->status) + " " + outcome.answer->reason,
                          [&] {
                            return nlohmann::json{{"method", method},
                                                  {"url", m_url.text},
                                                  {"client", m_client},
                                                  {"session", m_url.server.host},
                                                  {"status", outcome.answer->status}};
                          });
      Reply(outcome.answer->status, outcome.answer->reason, std::move(outcome.answer->body));
      return false;
    }
    m_responseProcessing = outcome.responseProcessingRequired;
    m_changes = std::move(outcome.changes);
    if (outcome.rewritten) {
      m_url = std::move(*outcome.rewritten);
      header.set(http::field::host, HostField(m_url.server, m_url.tls));
    }
  } catch (const module_host::EngineError& e) {
    // The engine's failure is no reason to keep the page from the user: the
    // request goes on as it came.
    m_context.log.Write("engine-error", method + " " + m_url.text + ": " + e.what(),
                        {{"method", method}, {"url", m_url.text}, {"error", e.what()}});
  }
  return true;
}

void ClientConnection::SendRequestHead() {
  m_requestWriter.emplace(m_request->get());
  m_upstream->stream.expires_after(m_context.config.idleTimeout);
  http::async_write_header(m_upstream->stream, *m_requestWriter,
                           [self = shared_from_this()](beast::error_code error, std::size_t) {
                             self->OnRequestHeadSent(error);
                           });
}

void ClientConnection::OnRequestHeadSent(beast::error_code error) {
  if (Closed()) return;
  if (error) {
    if (!Reconnect(error)) FailExchange(502, "cannot send the request to " + m_upstream->server.Text());
    return;
  }
  ReadResponseHead();
  m_requestBody.emplace(*m_request, m_stream, m_buffer, &*m_requestWriter, &m_upstream->stream,
                        m_context.config.idleTimeout);
  m_requestBody->Run(shared_from_this(),
                     [this](beast::error_code error, PumpSide side) { OnRequestBodySent(error, side); });
}

void ClientConnection::OnRequestBodySent(beast::error_code error, PumpSide side) {
  if (Closed()) return;
  if (m_reconnectPending) return SendOnNewUpstream();
  if (error && side == PumpSide::Read) return Close();  // the client went, or sent a broken body
  m_requestSent = true;
  // A server that stops reading the body may still answer; the connection
  // ends after that answer.
  m_requestFailed = static_cast<bool>(error);
  if (m_responseSent) FinishExchange();
}

void ClientConnection::ReadResponseHead() {
  m_response.emplace();
  m_response->header_limit(static_cast<std::uint32_t>(MaxHeaderBlock));
  LiftBodyLimit(*m_response);
  if (m_request->get().method() == http::verb::head) m_response->skip(true);
  m_upstream->stream.expires_after(m_context.config.idleTimeout);
  http::async_read_header(m_upstream->stream, m_upstream->buffer, *m_response,
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                            self->OnResponseHead(error);
                          });
}

void ClientConnection::OnResponseHead(beast::error_code error) {
  if (Closed()) return;
  if (error == beast::error::timeout) {
    return FailExchange(504, m_upstream->server.Text() + " did not answer within " +
                                 std::to_string(m_context.config.idleTimeout.count()) + " s");
  }
  if (error) {
    if (!Reconnect(error)) FailExchange(502, m_upstream->server.Text() + " sent no valid answer: " + error.message());
    return;
  }
  auto& header = m_response->get();
  const unsigned status = header.result_int();
  if (status == 101) {
    if (!m_upgrade) return FailExchange(502, m_upstream->server.Text() + " switched protocols unasked");
    return SendResponseHead();
  }
  if (status / 100 == 1) return RelayInterim();
  if (m_responseProcessing && !AskEngineOnResponse()) return;
  SendResponseHead();
}

bool ClientConnection::AskEngineOnResponse() {
  try {
    ResponseOutcome outcome;
    {
      // The request was seen by this session's engine session.
      ServerSession::Call call(*m_session);
      const auto start = std::chrono::steady_clock::now();
      outcome = ProcessResponse(*call.Engine(), m_response->get());
      m_context.stats.TimeEngine(EngineCall::Response, std::chrono::steady_clock::now() - start);
    }
    for (std::string& change : outcome.changes) m_changes.push_back("response: " + std::move(change));
    if (!outcome.answerMended.empty()) {
      m_context.log.Write("engine-error", m_url.text + " (response): " + outcome.answerMended,
                          {{"url", m_url.text}, {"error", outcome.answerMended}});
    }
    if (outcome.answer) {
      // The server's answer is dropped, and with it its connection.
      m_upstream->stream.close();
      m_changes.push_back("response answered: " + std::to_string(outcome.answer->status));
      LogChanges();
      m_changes.clear();
      if (!m_requestSent) m_clientKeepAlive = false;
      Reply(outcome.answer->status, outcome.answer->reason, std::move(outcome.answer->body));
      return false;
    }
  } catch (const module_host::EngineError& e) {
    m_context.log.Write("engine-error", m_url.text + " (response): " + e.what(), {{"url", m_url.text}, {"error", e.what()}});
  }
  return true;
}

// An interim answer ("100 Continue", "103 Early Hints") goes to a client
// that knows them; then the final answer is read.
void ClientConnection::RelayInterim() {
  if (m_clientVersion < 11) return ReadResponseHead();
  auto interim = std::make_shared<http::response<http::empty_body>>(std::move(m_response->get().base()));
  RemoveHopByHop(*interim, false);
  m_stream.expires_after(m_context.config.idleTimeout);
  http::async_write(m_stream, *interim, [self = shared_from_this(), interim](beast::error_code error, std::size_t) {
    if (self->Closed()) return;
    if (error) return self->Close();
    self->ReadResponseHead();
  });
}

void ClientConnection::SendResponseHead() {
  auto& header = m_response->get();
  const bool switching = header.result_int() == 101;
  const std::string codings = switching ? std::string() : TransferCodings(header);
  RemoveHopByHop(header, switching);
  if (!m_response->is_done() && !switching) {
    if (!codings.empty()) {
      // The body goes on in the codings the server gave it, named, with
      // chunks of the proxy's after them; HTTP/1.0 knows no codings.
      if (m_clientVersion < 11) {
        return FailExchange(502, m_upstream->server.Text() + " sent its answer in the transfer coding \"" + codings +
                                     "\", which an HTTP/1.0 client cannot take");
      }
      header.set(http::field::transfer_encoding, codings);
      header.chunked(true);
    } else if (m_response->content_length()) {
      header.content_length(m_response->content_length());
    } else if (m_clientVersion >= 11) {
      header.chunked(true);
    } else {
      // An HTTP/1.0 client knows no chunks: the body ends with the connection.
      m_clientKeepAlive = false;
    }
  }
  header.version(11);
  if (!switching) SetConnection(header, m_clientVersion, m_clientKeepAlive);
  AddVia(header);
  m_responseWriter.emplace(m_response->get());
  m_responseStarted = true;
  m_stream.expires_after(m_context.config.idleTimeout);
  http::async_write_header(m_stream, *m_responseWriter, [self = shared_from_this(), switching](beast::error_code error, std::size_t) {
    if (self->Closed()) return;
    if (error) return self->Close();
    if (switching) return self->StartTunnel(*self->m_upstream);
    self->OnResponseHeadSent();
  });
}

void ClientConnection::OnResponseHeadSent() {
  m_responseBody.emplace(*m_response, m_upstream->stream, m_upstream->buffer, &*m_responseWriter, &m_stream,
                         m_context.config.idleTimeout);
  m_responseBody->Run(shared_from_this(), [this](beast::error_code error, PumpSide) {
    if (Closed()) return;
    // Half an answer cannot be mended: the client sees the connection end.
    if (error) return Close();
    m_responseSent = true;
    ++m_upstream->responses;
    if (m_requestSent) FinishExchange();
  });
}

void ClientConnection::FinishExchange() {
  LogChanges();
  // Bytes read past the answer's end are no answer to anything. Beyond the
  // bound for the whole process, connections are not kept for later.
  if (!m_response->keep_alive() || m_requestFailed || m_upstream->buffer.size() != 0 ||
      ServerConnectionsOpen() > m_context.config.maxServerConnections) {
    m_upstream->stream.close();
  } else {
    // An idle connection keeps no buffer.
    m_upstream->buffer.shrink_to_fit();
    m_upstream->lastUsed = std::chrono::steady_clock::now();
  }
  if (m_requestFailed) return Close();
  if (!m_clientKeepAlive) return CloseAfterReply();
  NextRequest();
}

void ClientConnection::FailExchange(unsigned status, const std::string& reason) {
  m_context.log.Write("upstream-error", m_url.text + " (client " + m_client + "): " + reason,
                      {{"url", m_url.text}, {"client", m_client}, {"status", status}, {"error", reason}});
  if (m_upstream) m_upstream->stream.close();
  if (m_responseStarted) return Close();
  // The body may still be on its way to the server: the connection ends
  // after the answer unless the whole request has been read.
  const bool whole = m_request->is_done() && (m_requestSent || !m_requestBody);
  if (!whole) return Send(MakeErrorReply(status, reason), After::Close);
  auto response = MakeErrorReply(status, reason);
  SetConnection(*response, m_clientVersion, m_clientKeepAlive);
  Send(std::move(response), m_clientKeepAlive ? After::NextRequest : After::Close);
}

// A reused connection the server closed just as the request came: the
// request goes once more on a new one, when it may.
bool ClientConnection::Reconnect(beast::error_code error) {
  if (m_retried || m_upstream->responses == 0 || !Reconnectable(error) || !Resendable(*m_request)) return false;
  m_retried = true;
  // The request's (empty) body may still be on its way to the old
  // connection.
  if (RequestBodyRunning()) {
    m_reconnectPending = true;
  } else {
    SendOnNewUpstream();
  }
  return true;
}

void ClientConnection::SendOnNewUpstream() {
  m_reconnectPending = false;
  m_requestBody.reset();
  m_requestSent = false;
  m_response.reset();
  m_requestWriter.reset();
  m_upstream = &NewUpstream(m_url.server, m_url.tls);
  Connect(*m_upstream, [this] { SendRequestHead(); });
}

void ClientConnection::LogChanges() {
  if (m_changes.empty()) return;
  m_context.stats.CountModified();
  const std::string method(m_request->get().method_string());
  std::string text = method + " " + m_url.text + " (client " + m_client + "):";
  for (std::size_t i = 0; i < m_changes.size(); ++i) text += (i ? "; " : " ") + m_changes[i];
  m_context.log.Write("modified", text, [&] {
    return nlohmann::json{{"method", method},
                          {"url", m_url.text},
                          {"client", m_client},
                          {"session", m_url.server.host},
                          {"changes", m_changes}};
  });
}

}  // namespace dnt_proxy
