// One client connection of the proxy, which owns everything the connection
// uses: its stream and buffers, its connections to servers, and the request
// being served (which holds its engine session, shared with the client's
// other connections, while it is served). Requests are served one at a time, each by
// a chain of small completion handlers on the connection's strand:
//   read the head -> check and route it -> ask the engine -> answer it here,
//   or connect to the server, send the head, then relay the request body
//   and the response side by side -> the next request.
// CONNECT, and a WebSocket handshake the server accepts, turn the connection
// into a tunnel: blind, or, for a server the engine asks to see, decrypted
// with TLS towards the client and the server, the requests inside served by
// the same chain as plain ones. Closing the connection frees everything at
// once: every pending operation ends, and the last handler to return
// destroys it.
#pragma once

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/string_body.hpp>
#include <array>
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tools/dnt_proxy/body_pump.h"
#include "tools/dnt_proxy/engine_exchange.h"
#include "tools/dnt_proxy/forwarding.h"
#include "tools/dnt_proxy/interception.h"
#include "tools/dnt_proxy/proxy_context.h"
#include "tools/net_stream/tcp_or_tls_stream.h"
#include "tools/dnt_proxy/request_head.h"
#include "tools/dnt_proxy/session_table.h"

namespace dnt_proxy {

namespace beast = boost::beast;
using tcp = boost::asio::ip::tcp;

/// A connection to a server that requests travel on, counted in the
/// statistics while it exists.
struct Upstream {
  Upstream(const boost::asio::any_io_executor& executor, Authority server, bool tls, ProxyStats& stats)
      : stream(executor), server(std::move(server)), tls(tls), stats(stats) {
    stats.ServerConnectionOpened();
  }
  ~Upstream() { stats.ServerConnectionClosed(); }
  Upstream(const Upstream&) = delete;
  Upstream& operator=(const Upstream&) = delete;
  net_stream::TcpOrTlsStream stream;
  beast::flat_buffer buffer;
  Authority server;
  /// Reached over TLS, once connected.
  bool tls;
  /// Responses it has carried; a connection that has is reused, and may
  /// have been closed by the server meanwhile.
  unsigned responses = 0;
  /// When a request last went on it.
  std::chrono::steady_clock::time_point lastUsed = std::chrono::steady_clock::now();
  ProxyStats& stats;
};

class ClientConnection : public std::enable_shared_from_this<ClientConnection> {
 public:
  ClientConnection(tcp::socket socket, ProxyContext& context);
  ~ClientConnection();
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  void Start();

 private:
  using Response = http::response<http::string_body>;
  enum class After { NextRequest, Close };

  // client_connection.cc: heads, routing, answers given here.
  void ReadHead();
  void OnHeadRead(beast::error_code error, std::size_t bytes);
  void OnHead(std::size_t size);
  void Route();
  void Refuse(unsigned status, const std::string& reason);
  void Reply(unsigned status, const std::string& reason, std::string body);
  void Send(std::shared_ptr<Response> response, After after);
  void DrainRequest();
  void NextRequest();
  void CloseAfterReply();
  void DropUntilClosed();
  void Close();
  bool Closed() const { return m_closed; }
  bool RequestBodyRunning() const { return m_requestBody && !m_requestSent; }

  // client_exchange.cc: a request forwarded to its server.
  void Forward(HttpUrl url);
  Upstream* UpstreamTo(const Authority& server, bool tls);
  Upstream& NewUpstream(const Authority& server, bool tls);
  void DropUpstream(const Authority& server, bool tls);
  void DropIdleUpstreams();
  std::size_t ServerConnectionsOpen() const;
  /// `site`: the site of the request's page.
  bool AskEngine(const std::string& site);
  void SendRequestHead();
  void OnRequestHeadSent(beast::error_code error);
  void OnRequestBodySent(beast::error_code error, PumpSide side);
  void ReadResponseHead();
  void OnResponseHead(beast::error_code error);
  bool AskEngineOnResponse();
  void RelayInterim();
  void SendResponseHead();
  void OnResponseHeadSent();
  void FinishExchange();
  void FailExchange(unsigned status, const std::string& reason);
  bool Reconnect(beast::error_code error);
  void SendOnNewUpstream();
  void LogChanges();

  // client_upstream.cc: the connection to a server.
  void Connect(Upstream& upstream, std::function<void()> connected);
  void ConnectTo(Upstream& upstream, std::vector<tcp::endpoint> endpoints, bool mapped, std::function<void()> connected);
  DestinationRequest Destination(const Upstream& upstream, const tcp::endpoint& endpoint, bool mapped) const;
  bool Permitted(const DestinationRequest& request);
  void HandshakeWithServer(Upstream& upstream, std::function<void()> connected);

  // client_intercept.cc: a tunnel the proxy decrypts.
  void Intercept(const Authority& server);
  void ReadClientHello(const Authority& server);
  void OnClientHello(const Authority& server);
  void OnClientHandshake(beast::error_code error, const Authority& server);

  // client_tunnel.cc: bytes relayed blind.
  struct TunnelSide {
    net_stream::TcpOrTlsStream* from = nullptr;
    net_stream::TcpOrTlsStream* to = nullptr;
    std::unique_ptr<char[]> chunk;
  };
  void OpenTunnel(const Authority& server);
  bool EngineAsksToSee(const Authority& server);
  void ConnectTunnel(const Authority& server, std::function<void()> connected);
  void Established();
  void StartTunnel(Upstream& server);
  void FlushToTunnel(std::size_t side, beast::flat_buffer& pending);
  void ReadTunnel(std::size_t side);
  void WatchTunnel();
  void EndTunnel();

  ProxyContext& m_context;
  net_stream::TcpOrTlsStream m_stream;
  beast::flat_buffer m_buffer;
  boost::asio::ip::address m_clientAddress;
  std::string m_client;
  std::string m_clientAddressText;
  // The most recently used first, and by server (the key's host a view of
  // the upstream's own).
  struct ServerKey {
    std::string_view host;
    uint16_t port;
    bool tls;
    bool operator==(const ServerKey&) const = default;
  };
  struct ServerKeyHash {
    std::size_t operator()(const ServerKey& key) const {
      return std::hash<std::string_view>()(key.host) ^ (std::size_t{key.port} << 1 | std::size_t{key.tls});
    }
  };
  std::list<Upstream> m_upstreams;
  std::unordered_map<ServerKey, std::list<Upstream>::iterator, ServerKeyHash> m_upstreamIndex;
  std::optional<tcp::resolver> m_resolver;
  bool m_closed = false;

  // When the head being read must be whole; none before its first byte.
  std::optional<std::chrono::steady_clock::time_point> m_headDeadline;

  // The request being served.
  std::optional<RequestParser> m_request;
  // The HTTP version the client speaks; the request goes on as HTTP/1.1.
  unsigned m_clientVersion = 11;
  bool m_clientKeepAlive = false;
  HttpUrl m_url;
  std::shared_ptr<ServerSession> m_session;
  Upstream* m_upstream = nullptr;
  std::optional<http::request_serializer<http::buffer_body>> m_requestWriter;
  std::optional<http::response_parser<http::buffer_body>> m_response;
  std::optional<http::response_serializer<http::buffer_body>> m_responseWriter;
  std::optional<BodyPump<true>> m_requestBody;
  std::optional<BodyPump<false>> m_responseBody;
  bool m_upgrade = false;
  bool m_responseProcessing = false;
  bool m_requestSent = false;
  bool m_requestFailed = false;
  bool m_responseStarted = false;
  bool m_responseSent = false;
  bool m_retried = false;
  // A reconnect waits for the request's pump, which still uses the
  // connection it replaces.
  bool m_reconnectPending = false;
  std::vector<std::string> m_changes;

  // A tunnel: CONNECT's own server connection, and both directions.
  std::optional<Upstream> m_tunnelServer;
  std::string m_tunnelDomain;
  std::array<TunnelSide, 2> m_tunnel;
  int m_tunnelOpenSides = 0;
  std::optional<boost::asio::steady_timer> m_tunnelTimer;
  std::chrono::steady_clock::time_point m_tunnelActivity;

  // A tunnel the proxy decrypts: the client's handshake, then the server
  // every request inside goes to.
  ClientHandshake m_handshake;
  std::optional<Authority> m_intercepted;
};

}  // namespace dnt_proxy
