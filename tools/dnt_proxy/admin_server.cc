#include "tools/dnt_proxy/admin_server.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>

#include "tools/dnt_proxy/dashboard_page.h"
#include "tools/dnt_proxy/forwarding.h"
#include "tools/dnt_proxy/stats_report.h"

namespace dnt_proxy {
namespace {

namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;

// Few people and scrapers look at once; connections beyond these are
// closed at once.
constexpr int MaxConnections = 32;
constexpr auto Idle = std::chrono::seconds(30);
constexpr std::uint32_t MaxAdminHead = 8 * 1024;
// A pause request is a line of JSON.
constexpr std::uint64_t MaxAdminBody = 4 * 1024;
constexpr std::string_view TokenPlace = "{{admin-token}}";
// The page runs its own script and styles, and reaches nothing but this
// endpoint.
constexpr const char* PagePolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; img-src data:; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

using Response = http::response<http::string_body>;

// A name another site could point at this address would let its pages read
// the numbers: only an address or "localhost" is answered.
bool NamesThisEndpoint(std::string_view host, uint16_t port) {
  const auto authority = ParseAuthority(host, 80);
  return authority && authority->port == port && (authority->host == "localhost" || IsIpAddress(authority->host));
}

Response Answer(unsigned status, const char* type, std::string body) {
  Response response(static_cast<http::status>(status), 11);
  response.set(http::field::server, std::string(ViaName));
  response.set(http::field::content_type, type);
  response.set(http::field::cache_control, "no-store");
  response.set("X-Content-Type-Options", "nosniff");
  response.set("Referrer-Policy", "no-referrer");
  // No other origin's page may embed what is served here, the dashboard's
  // token least of all.
  response.set("Cross-Origin-Resource-Policy", "same-origin");
  response.body() = std::move(body);
  return response;
}

Response Text(unsigned status, const std::string& text) {
  return Answer(status, "text/plain; charset=utf-8", "dnt-proxy: " + text + "\n");
}

std::string MakeToken() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("no random bytes for the admin token");
  static constexpr char Hex[] = "0123456789abcdef";
  std::string token;
  for (const unsigned char byte : bytes) token += {Hex[byte >> 4], Hex[byte & 15]};
  return token;
}

std::string PageWithToken(const std::string& token) {
  std::string page(DashboardPage());
  if (const auto place = page.find(TokenPlace); place != std::string::npos) page.replace(place, TokenPlace.size(), token);
  return page;
}

// The one request that changes anything: it must come from the dashboard
// page itself, which alone holds the token; a page of another origin can
// neither read the token nor send it without being seen.
Response Pause(const http::request<http::string_body>& request, const AdminServer& server) {
  const std::string_view origin = View(request[http::field::origin]);
  if (request.find(http::field::origin) != request.end() && origin != "http://" + std::string(View(request[http::field::host]))) {
    return Text(403, "requests from other sites' pages are refused");
  }
  if (!server.Authorized(View(request["X-Admin-Token"]))) return Text(403, "the admin token is missing or wrong");
  if (!server.Sites()) return Text(409, "without the engine there is nothing to pause");
  PauseRequest pause;
  try {
    pause = ParsePauseRequest(request.body());
    server.Sites()->Set(pause.site, pause.paused);
  } catch (const std::invalid_argument& e) {
    return Text(400, e.what());
  } catch (const std::runtime_error& e) {
    server.Log().Write("warning", "the paused sites are not kept: " + std::string(e.what()), {{"error", e.what()}});
  }
  server.Log().Write(pause.paused ? "pause" : "resume",
                     std::string(pause.paused ? "protection paused on " : "protection resumed on ") + pause.site,
                     {{"site", pause.site}, {"paused", pause.paused}});
  nlohmann::json answer = {{"site", pause.site}, {"paused", pause.paused}};
  return Answer(200, "application/json", answer.dump());
}

Response Route(const http::request<http::string_body>& request, const AdminServer& server) {
  if (!NamesThisEndpoint(View(request[http::field::host]), server.Port())) {
    return Text(421, "name this endpoint by its address");
  }
  const std::string_view target = View(request.target());
  const std::string_view path = target.substr(0, target.find('?'));
  if (path == "/api/pause") {
    if (request.method() == http::verb::post) return Pause(request, server);
    Response refused = Text(405, "/api/pause takes POST");
    refused.set(http::field::allow, "POST");
    return refused;
  }
  if (request.method() != http::verb::get && request.method() != http::verb::head) {
    Response refused = Text(405, "the admin endpoint is read-only but for POST /api/pause");
    refused.set(http::field::allow, "GET, HEAD");
    return refused;
  }
  if (path == "/") {
    Response page = Answer(200, "text/html; charset=utf-8", server.Page());
    page.set("Content-Security-Policy", PagePolicy);
    return page;
  }
  if (path == "/api/stats") return Answer(200, "application/json", StatsJson(server.Take()));
  if (path == "/api/paused") {
    return Answer(200, "application/json", PausedJson(server.Sites() ? server.Sites()->Take() : SitesSnapshot()));
  }
  if (path == "/metrics") return Answer(200, "text/plain; version=0.0.4; charset=utf-8", MetricsText(server.Take()));
  return Text(404, "nothing here; try /, /api/stats, /api/paused or /metrics");
}

class AdminConnection : public std::enable_shared_from_this<AdminConnection> {
 public:
  AdminConnection(tcp::socket socket, std::shared_ptr<AdminServer> server)
      : m_stream(std::move(socket)), m_server(std::move(server)) {}
  ~AdminConnection() { m_server->ConnectionClosed(); }

  void Read() {
    m_parser.emplace();
    m_parser->header_limit(MaxAdminHead);
    m_parser->body_limit(MaxAdminBody);
    m_stream.expires_after(Idle);
    http::async_read(m_stream, m_buffer, *m_parser, [self = shared_from_this()](beast::error_code error, std::size_t) {
      if (!error) self->Reply();
    });
  }

 private:
  void Reply() {
    const auto& request = m_parser->get();
    auto response = std::make_shared<Response>(Route(request, *m_server));
    response->keep_alive(request.keep_alive());
    response->prepare_payload();
    if (request.method() == http::verb::head) response->body().clear();
    http::async_write(m_stream, *response, [self = shared_from_this(), response](beast::error_code error, std::size_t) {
      if (error || !response->keep_alive()) {
        self->m_stream.socket().shutdown(tcp::socket::shutdown_send, error);
        return;
      }
      self->Read();
    });
  }

  beast::tcp_stream m_stream;
  beast::flat_buffer m_buffer;
  std::optional<http::request_parser<http::string_body>> m_parser;
  std::shared_ptr<AdminServer> m_server;
};

}  // namespace

AdminServer::AdminServer(net::io_context& io, const tcp::endpoint& endpoint, Snapshot snapshot, PausedSites* sites,
                         AccessLog& log)
    : m_acceptor(io),
      m_retry(io),
      m_snapshot(std::move(snapshot)),
      m_sites(sites),
      m_log(log),
      m_token(MakeToken()),
      m_page(PageWithToken(m_token)) {
  m_acceptor.open(endpoint.protocol());
  m_acceptor.set_option(net::socket_base::reuse_address(true));
  m_acceptor.bind(endpoint);
  m_acceptor.listen();
  m_port = m_acceptor.local_endpoint().port();
}

void AdminServer::Start() { Accept(); }

bool AdminServer::Authorized(std::string_view token) const {
  return token.size() == m_token.size() && CRYPTO_memcmp(token.data(), m_token.data(), token.size()) == 0;
}

void AdminServer::Stop() {
  boost::system::error_code ignored;
  m_acceptor.close(ignored);
  m_retry.cancel();
}

void AdminServer::Accept() {
  m_acceptor.async_accept([self = shared_from_this()](boost::system::error_code error, tcp::socket socket) {
    if (error == net::error::operation_aborted) return;
    if (error) {
      // Out of descriptors, most likely: try again in a moment.
      self->m_retry.expires_after(std::chrono::milliseconds(100));
      return self->m_retry.async_wait([self](boost::system::error_code error) {
        if (!error) self->Accept();
      });
    }
    if (self->m_open < MaxConnections) {
      ++self->m_open;
      std::make_shared<AdminConnection>(std::move(socket), self)->Read();
    }
    self->Accept();
  });
}

}  // namespace dnt_proxy
