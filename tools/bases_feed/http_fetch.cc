#include "tools/bases_feed/http_fetch.h"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <charconv>
#include <memory>
#include <optional>
#include <stdexcept>

#include "tools/bases_feed/feed_error.h"
#include "tools/net_stream/tcp_or_tls_stream.h"

namespace bases_feed {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using boost::system::error_code;

constexpr unsigned MaxRedirects = 5;
constexpr std::size_t MaxHeaderBytes = 16 * 1024;

// What may stand in a request target: visible ASCII, never a fragment.
bool IsTargetText(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 127 && c != '#'; });
}

bool IsHostText(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' || c == ':';
  });
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

bool IsAddress(const std::string& host) {
  error_code error;
  net::ip::make_address(host, error);
  return !error;
}

// Runs `initiate`'s operation to its end on `io`; the deadline timer ends
// it early by closing the connection. When the fetch is stopped, the
// operation ends later, after this frame: its result is shared.
template <class Initiate>
error_code Await(net::io_context& io, Initiate&& initiate) {
  const auto result = std::make_shared<std::optional<error_code>>();
  initiate([result](error_code error) { *result = error; });
  io.restart();
  while (!*result && io.run_one() != 0) {
  }
  if (!*result) throw Stopped{};
  return **result;
}

// A server's words as they may go into a log: visible ASCII, not too many.
std::string Printable(std::string_view text) {
  std::string shown;
  for (const char c : text.substr(0, 64)) shown += c >= ' ' && c < 127 ? c : '?';
  return shown;
}

bool IsRedirect(unsigned status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

}  // namespace

std::string Url::Text() const {
  const bool v6 = host.find(':') != std::string::npos;
  const bool defaultPort = port == (tls ? 443 : 80);
  return std::string(tls ? "https://" : "http://") + (v6 ? "[" + host + "]" : host) +
         (defaultPort ? "" : ":" + std::to_string(port)) + target;
}

Url ParseUrl(std::string_view text) {
  const auto fail = [&]() -> Url { throw std::invalid_argument("\"" + std::string(text) + "\" is not an http:// or https:// URL"); };
  Url url;
  const std::string lower = Lower(text.substr(0, 8));
  std::size_t at = 0;
  if (lower.rfind("https://", 0) == 0) {
    at = 8;
  } else if (lower.rfind("http://", 0) == 0) {
    url.tls = false;
    url.port = 80;
    at = 7;
  } else {
    return fail();
  }
  const std::size_t end = std::min(text.find('/', at), text.size());
  const std::string_view authority = text.substr(at, end - at);
  std::string_view host = authority, port;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return fail();
    host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return fail();
      port = authority.substr(close + 2);
    }
    if (!IsAddress(std::string(host))) return fail();
  } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
    if (host.find(':') != std::string_view::npos) return fail();
  }
  url.host = Lower(host);
  if (!IsHostText(url.host)) return fail();
  if (!port.empty() || authority.back() == ':') {
    unsigned number = 0;
    const auto [stop, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (error != std::errc() || stop != port.data() + port.size() || number == 0 || number > 65535) return fail();
    url.port = static_cast<uint16_t>(number);
  }
  url.target = end < text.size() ? std::string(text.substr(end)) : "/";
  if (!IsTargetText(url.target)) return fail();
  return url;
}

Url ResolveUrl(const Url& base, std::string_view reference) {
  const std::string lower = Lower(reference.substr(0, 8));
  if (lower.rfind("https://", 0) == 0 || lower.rfind("http://", 0) == 0) return ParseUrl(reference);
  if (reference.rfind("//", 0) == 0) return ParseUrl((base.tls ? "https:" : "http:") + std::string(reference));
  if (reference.empty() || !IsTargetText(reference)) {
    throw std::invalid_argument("\"" + std::string(reference) + "\" is not a URL");
  }
  Url url = base;
  if (reference.front() == '/') {
    url.target = reference;
  } else {
    const std::string path = base.target.substr(0, base.target.find('?'));
    url.target = path.substr(0, path.rfind('/') + 1) + std::string(reference);
  }
  return url;
}

Fetcher::Fetcher(const std::string& authorities, std::chrono::milliseconds timeout)
    : m_io(1), m_tls(net::ssl::context::tls_client), m_timeout(timeout) {
  m_tls.set_options(net::ssl::context::no_sslv2 | net::ssl::context::no_sslv3 | net::ssl::context::no_tlsv1 |
                    net::ssl::context::no_tlsv1_1);
  m_tls.set_verify_mode(net::ssl::verify_peer);
  try {
    if (authorities.empty()) {
      m_tls.set_default_verify_paths();
    } else {
      m_tls.load_verify_file(authorities);
    }
  } catch (const boost::system::system_error& e) {
    throw std::runtime_error("cannot read the authorities " + (authorities.empty() ? "of the system" : "in " + authorities) +
                             ": " + e.code().message());
  }
}

void Fetcher::Stop() {
  m_stopped = true;
  m_io.stop();
}

Response Fetcher::Get(const Url& url, std::size_t limit, const std::string& ifNoneMatch) {
  Url at = url;
  for (unsigned redirects = 0;; ++redirects) {
    std::string location;
    Response response = Once(at, limit, ifNoneMatch, location);
    if (!IsRedirect(response.status)) return response;
    if (redirects == MaxRedirects) {
      throw FeedError(Failure::Redirect, url.Text() + ": more than " + std::to_string(MaxRedirects) + " redirects");
    }
    Url next;
    try {
      next = ResolveUrl(at, location);
    } catch (const std::invalid_argument&) {
      throw FeedError(Failure::Redirect, at.Text() + " redirects to a bad location");
    }
    if (next.tls != at.tls) {
      throw FeedError(Failure::Redirect, at.Text() + " redirects to another scheme: " + next.Text());
    }
    at = std::move(next);
  }
}

Response Fetcher::Once(const Url& url, std::size_t limit, const std::string& ifNoneMatch, std::string& location) {
  if (m_stopped) throw Stopped{};
  const std::string where = url.Text();
  tcp::resolver resolver(m_io);
  // TLS goes over the connection once it is made; its socket is reached
  // through the stream each time, as it moves under TLS then.
  net_stream::TcpOrTlsStream stream(m_io.get_executor());
  net::steady_timer deadline(m_io, m_timeout);
  bool timedOut = false;
  deadline.async_wait([&](error_code error) {
    if (error) return;
    timedOut = true;
    resolver.cancel();
    stream.socket().close(error);
  });
  // Once an operation has ended, only the deadline's wait is left: it ends
  // here, before the locals it refers to go. A stopped fetch leaves its
  // operations to be destroyed, never run, with the io_context.
  struct Drain {
    net::io_context& io;
    net::steady_timer& deadline;
    const std::atomic<bool>& stopped;
    ~Drain() {
      deadline.cancel();
      if (stopped) return;
      io.restart();
      io.run();
    }
  } drain{m_io, deadline, m_stopped};
  const auto check = [&](error_code error, Failure failure, const std::string& what) {
    if (m_stopped) throw Stopped{};
    if (timedOut) {
      throw FeedError(Failure::Timeout, where + ": no whole answer within " +
                                            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(m_timeout).count()) + " s");
    }
    if (error) throw FeedError(failure, where + ": " + what + " (" + error.message() + ")");
  };

  tcp::resolver::results_type found;
  check(Await(m_io, [&](auto done) {
          resolver.async_resolve(url.host, std::to_string(url.port), [&found, done](error_code error, tcp::resolver::results_type results) {
            found = std::move(results);
            done(error);
          });
        }),
        Failure::Unreachable, "cannot find " + url.host);
  std::vector<tcp::endpoint> endpoints;
  for (const auto& entry : found) {
    // Plain HTTP is for tests on this machine only: nothing on the way.
    if (url.tls || entry.endpoint().address().is_loopback()) endpoints.push_back(entry.endpoint());
  }
  if (endpoints.empty()) {
    throw FeedError(Failure::Unreachable, where + ": plain http:// is only for loopback addresses; use https://");
  }
  check(Await(m_io, [&](auto done) {
          net::async_connect(stream.socket(), endpoints, [done](error_code error, const tcp::endpoint&) { done(error); });
        }),
        Failure::Unreachable, "cannot connect");

  if (url.tls) {
    SSL* ssl = stream.StartTls(m_tls).native_handle();
    const bool address = IsAddress(url.host);
    if (!address) SSL_set_tlsext_host_name(ssl, url.host.c_str());
    const bool named = address ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), url.host.c_str()) == 1
                               : SSL_set1_host(ssl, url.host.c_str()) == 1;
    if (!named) throw FeedError(Failure::Tls, where + ": cannot check the server's name");
    const error_code error = Await(m_io, [&](auto done) {
      stream.TlsLayer().async_handshake(net::ssl::stream_base::client, [done](error_code e) { done(e); });
    });
    const long verified = SSL_get_verify_result(ssl);
    if (error && !timedOut && verified != X509_V_OK) {
      throw FeedError(Failure::Tls, where + ": the server's certificate does not verify (" +
                                        X509_verify_cert_error_string(verified) + ")");
    }
    check(error, Failure::Tls, "no TLS handshake");
  }

  http::request<http::empty_body> request(http::verb::get, url.target, 11);
  const bool v6 = url.host.find(':') != std::string::npos;
  request.set(http::field::host, (v6 ? "[" + url.host + "]" : url.host) + ":" + std::to_string(url.port));
  request.set(http::field::user_agent, "dnt-bases-feed/1");
  if (!ifNoneMatch.empty()) request.set(http::field::if_none_match, ifNoneMatch);
  check(Await(m_io, [&](auto done) { http::async_write(stream, request, [done](error_code e, std::size_t) { done(e); }); }),
        Failure::Unreachable, "cannot send the request");
  beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  parser.header_limit(MaxHeaderBytes);
  parser.body_limit(limit);
  const error_code error = Await(m_io, [&](auto done) {
    http::async_read(stream, buffer, parser, [done](error_code e, std::size_t) { done(e); });
  });
  if (error == http::error::body_limit || error == http::error::header_limit) {
    check({}, Failure::TooLarge, "");
    throw FeedError(Failure::TooLarge, where + ": the answer is over its limit of " + std::to_string(limit) + " bytes");
  }
  check(error, Failure::Unreachable, "no whole answer");
  http::response<http::string_body> answer = parser.release();

  Response response;
  response.status = answer.result_int();
  if (response.status == 200 || (response.status == 304 && !ifNoneMatch.empty())) {
    const auto field = answer[http::field::etag];
    const std::string etag(field.data(), field.size());
    // An ETag goes back to the server as it came; an odd one is dropped.
    if (Printable(etag) == etag) response.etag = etag;
    if (response.status == 200) response.body = std::move(answer.body());
    return response;
  }
  if (IsRedirect(response.status)) {
    const auto field = answer[http::field::location];
    location.assign(field.data(), field.size());
    if (location.empty()) throw FeedError(Failure::Redirect, where + " redirects nowhere");
    return response;
  }
  throw FeedError(Failure::HttpStatus, where + " answered " + std::to_string(response.status) + " " +
                                           Printable({answer.reason().data(), answer.reason().size()}));
}

}  // namespace bases_feed
