#include "tools/dnt_proxy/client_connection.h"

#include <boost/asio/dispatch.hpp>
#include <boost/beast/http/write.hpp>

#include "tools/dnt_proxy/replies.h"

namespace dnt_proxy {
namespace {

// Room for the largest head the limits let through, so that they, not the
// buffer, decide.
constexpr std::size_t ClientBufferLimit = MaxHead + 4096;
constexpr std::size_t HeadReadSize = 4096;
// After a refusal the client may still be sending; its bytes are read and
// dropped for a moment so that the answer is not lost to a reset.
constexpr auto Linger = std::chrono::seconds(2);

tcp::endpoint RemoteEndpoint(const tcp::socket& socket) {
  beast::error_code ignored;
  return socket.remote_endpoint(ignored);
}

std::string EndpointText(const tcp::endpoint& remote) {
  return Authority{remote.address().to_string(), remote.port()}.Text();
}

std::string_view Readable(const beast::flat_buffer& buffer) {
  return {static_cast<const char*>(buffer.data().data()), buffer.size()};
}

}  // namespace

ClientConnection::ClientConnection(tcp::socket socket, ProxyContext& context)
    : m_context(context),
      m_stream(std::move(socket)),
      m_buffer(ClientBufferLimit),
      m_clientAddress(RemoteEndpoint(m_stream.socket()).address()),
      m_client(EndpointText(RemoteEndpoint(m_stream.socket()))),
      m_clientAddressText(m_clientAddress.to_string()),
      m_headDeadline(std::chrono::steady_clock::now() + context.config.headTimeout) {
  m_context.stats.ConnectionOpened();
}

ClientConnection::~ClientConnection() {
  m_context.stats.ConnectionClosed();
  m_context.connectionClosed(m_clientAddress);
}

void ClientConnection::Start() {
  boost::asio::dispatch(m_stream.get_executor(), [self = shared_from_this()] { self->ReadHead(); });
}

void ClientConnection::ReadHead() {
  // A pipelining client may have sent the next head already.
  const HeadScan scan = ScanRequestHead(Readable(m_buffer));
  m_buffer.consume(scan.skip);
  if (scan.state == HeadScan::State::Refused) return Refuse(scan.status, scan.reason);
  if (scan.state == HeadScan::State::Complete) return OnHead(scan.size);
  // Silence between requests is bounded by the idle time; a head, once
  // begun, by its deadline, however slowly its bytes come.
  if (!m_headDeadline && m_buffer.size() != 0) m_headDeadline = std::chrono::steady_clock::now() + m_context.config.headTimeout;
  if (m_headDeadline) {
    m_stream.Lowest().expires_at(*m_headDeadline);
  } else {
    m_stream.expires_after(m_context.config.idleTimeout);
  }
  m_stream.async_read_some(m_buffer.prepare(std::min(HeadReadSize, ClientBufferLimit - m_buffer.size())),
                           [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
                             self->OnHeadRead(error, bytes);
                           });
}

void ClientConnection::OnHeadRead(beast::error_code error, std::size_t bytes) {
  if (Closed()) return;
  // A client that goes, stays silent between requests, or is too slow with
  // a head is simply closed (the stream's timeout has closed its socket).
  if (error) return Close();
  m_buffer.commit(bytes);
  ReadHead();
}

void ClientConnection::OnHead(std::size_t size) {
  m_headDeadline.reset();
  m_request.emplace();
  const HeadCheck check = CheckRequestHead(*m_request, Readable(m_buffer).substr(0, size));
  m_buffer.consume(size);
  if (check.status != 0) return Refuse(check.status, check.reason);
  m_clientKeepAlive = m_request->keep_alive();
  m_clientVersion = m_request->get().version();
  Route();
}

void ClientConnection::Route() {
  const auto& header = m_request->get();
  if (ViaNamesProxy(header)) return Refuse(508, "the request came round to this proxy again");
  RouteDecision decision = m_intercepted ? DecideInterceptedRoute(header.method(), View(header.target()), *m_intercepted)
                                        : DecideRoute(header.method(), View(header.target()));
  switch (decision.route) {
    case Route::Tunnel:
      return OpenTunnel(decision.url.server);
    case Route::Forward:
      return Forward(std::move(decision.url));
    case Route::Refuse:
      return Refuse(decision.status, decision.reason);
  }
}

void ClientConnection::Refuse(unsigned status, const std::string& reason) {
  Send(MakeErrorReply(status, reason), After::Close);
}

void ClientConnection::Reply(unsigned status, const std::string& reason, std::string body) {
  auto response = MakeReply(status, reason, std::move(body));
  // A client that waits for "100 Continue" will not send the body it
  // announced: the connection cannot carry another request.
  const bool bodyWithheld = !m_request->is_done() && m_request->get().count(http::field::expect) != 0;
  const bool keepAlive = m_clientKeepAlive && !bodyWithheld;
  SetConnection(*response, m_clientVersion, keepAlive);
  Send(std::move(response), keepAlive ? After::NextRequest : After::Close);
}

void ClientConnection::Send(std::shared_ptr<Response> response, After after) {
  if (after == After::Close) SetConnection(*response, 11, false);
  m_stream.expires_after(m_context.config.idleTimeout);
  http::async_write(m_stream, *response,
                    [self = shared_from_this(), response, after](beast::error_code error, std::size_t) {
                      if (self->Closed()) return;
                      if (error) return self->Close();
                      // A body still being relayed is cut off: no moment to linger.
                      if (after == After::Close) return self->RequestBodyRunning() ? self->Close() : self->CloseAfterReply();
                      self->DrainRequest();
                    });
}

void ClientConnection::DrainRequest() {
  if (m_request->is_done()) return NextRequest();
  m_requestBody.emplace(*m_request, m_stream, m_buffer, nullptr, nullptr, m_context.config.idleTimeout);
  m_requestBody->Run(shared_from_this(), [this](beast::error_code error, PumpSide) {
    if (Closed()) return;
    if (error) return Close();
    NextRequest();
  });
}

void ClientConnection::NextRequest() {
  m_requestBody.reset();
  m_responseBody.reset();
  m_requestWriter.reset();
  m_responseWriter.reset();
  m_response.reset();
  m_request.reset();
  if (m_upstream && !m_upstream->stream.socket().is_open()) DropUpstream(m_upstream->server, m_upstream->tls);
  m_session.reset();
  m_upstream = nullptr;
  m_upgrade = m_responseProcessing = m_requestSent = m_requestFailed = m_responseStarted = m_responseSent = m_retried =
      m_reconnectPending = false;
  m_changes.clear();
  if (m_buffer.size() == 0) m_buffer.shrink_to_fit();
  ReadHead();
}

void ClientConnection::CloseAfterReply() {
  m_stream.expires_after(Linger);
  if (m_stream.IsTls()) {
    // close_notify tells the client that the answer is whole; its own, or
    // the end of the linger, ends the connection.
    return m_stream.TlsLayer().async_shutdown([self = shared_from_this()](beast::error_code) { self->Close(); });
  }
  beast::error_code ignored;
  m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
  DropUntilClosed();
}

void ClientConnection::DropUntilClosed() {
  m_buffer.clear();
  m_stream.async_read_some(m_buffer.prepare(HeadReadSize), [self = shared_from_this()](beast::error_code error, std::size_t) {
    if (self->Closed()) return;
    if (error) return self->Close();
    self->DropUntilClosed();
  });
}

void ClientConnection::Close() {
  if (m_closed) return;
  m_closed = true;
  beast::error_code ignored;
  m_stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
  m_stream.close();
  // Pending operations end with an error; the streams themselves go with
  // this object, once the last of them has returned.
  if (m_upstream) m_upstream->stream.close();
  if (m_tunnelServer) m_tunnelServer->stream.close();
  if (m_resolver) m_resolver->cancel();
  if (m_tunnelTimer) m_tunnelTimer->cancel();
}

}  // namespace dnt_proxy
