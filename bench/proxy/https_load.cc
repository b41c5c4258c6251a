// The page load's requests over HTTPS through a proxy, as a browser sends
// them: every connection is a tunnel (CONNECT, then TLS verified against the
// authorities the client trusts) to one server, kept alive for that
// server's requests in turn, and opened again, resuming its TLS session,
// when the proxy or the server ends it. The connections are spread over the
// page's requests, so a server with more requests gets more connections.
#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <thread>

#include "bench/proxy/loads.h"

namespace proxy_load {

namespace {

namespace net = boost::asio;
namespace http = boost::beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

struct Target {
  std::string host;
  std::string path;
  const HarRequest* request;
};

Target TargetOf(const HarRequest& request) {
  // ReadHar gives "http://host/path...".
  const std::string rest = request.url.substr(7);
  const auto slash = rest.find('/');
  return {rest.substr(0, slash), slash == std::string::npos ? "/" : rest.substr(slash), &request};
}

struct SessionFree {
  void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
};

struct Tally {
  std::vector<uint32_t> microseconds;
  uint64_t non2xx = 0, errors = 0, handshakes = 0, resumed = 0;
};

class Connection {
 public:
  Connection(net::ssl::context& context, uint16_t port, std::vector<Target> targets, Tally& tally)
      : m_context(context), m_port(port), m_targets(std::move(targets)), m_tally(tally) {}

  void Run(const std::atomic<bool>& stop) {
    for (std::size_t next = 0; !stop; next = (next + 1) % m_targets.size()) {
      const Target& target = m_targets[next];
      const auto start = Clock::now();
      try {
        Send(target);
      } catch (const std::exception& e) {
        if (++m_tally.errors == 1) std::cerr << "proxy_load: " << target.host << target.path << ": " << e.what() << '\n';
        m_stream.reset();
        continue;
      }
      m_tally.microseconds.push_back(static_cast<uint32_t>(
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count()));
    }
  }

 private:
  void Send(const Target& target) {
    if (!m_stream && !Open(target.host)) return;
    http::request<http::string_body> request(http::string_to_verb(target.request->method), target.path, 11);
    request.set(http::field::host, target.host);
    request.set(http::field::cookie, "visitor=1");
    request.set(http::field::referer, "https://www.ferguson.com/");
    request.body() = target.request->body;
    request.prepare_payload();
    http::write(*m_stream, request);
    http::response<http::string_body> response;
    http::read(*m_stream, m_buffer, response);
    if (response.result_int() >= 400) ++m_tally.non2xx;
    if (!m_session) m_session.reset(SSL_get1_session(m_stream->native_handle()));
    if (!response.keep_alive()) m_stream.reset();
  }

  // A refused CONNECT is the request's answer, as the proxy means it.
  bool Open(const std::string& host) {
    m_stream = std::make_unique<net::ssl::stream<tcp::socket>>(m_io, m_context);
    m_buffer.clear();
    m_stream->next_layer().connect({net::ip::address_v4::loopback(), m_port});
    net::write(m_stream->next_layer(), net::buffer("CONNECT " + host + ":443 HTTP/1.1\r\nHost: " + host + ":443\r\n\r\n"));
    net::streambuf head;
    const std::size_t size = net::read_until(m_stream->next_layer(), head, "\r\n\r\n");
    const std::string answer(net::buffers_begin(head.data()), net::buffers_begin(head.data()) + size);
    if (answer.compare(9, 3, "200") != 0) {
      ++m_tally.non2xx;
      m_stream.reset();
      return false;
    }
    SSL* ssl = m_stream->native_handle();
    SSL_set_tlsext_host_name(ssl, host.c_str());
    SSL_set1_host(ssl, host.c_str());
    if (m_session) SSL_set_session(ssl, m_session.get());
    m_stream->handshake(net::ssl::stream_base::client);
    ++m_tally.handshakes;
    if (SSL_session_reused(ssl)) ++m_tally.resumed;
    return true;
  }

  net::io_context m_io;
  net::ssl::context& m_context;
  uint16_t m_port;
  std::vector<Target> m_targets;
  Tally& m_tally;
  std::unique_ptr<net::ssl::stream<tcp::socket>> m_stream;
  boost::beast::flat_buffer m_buffer;
  std::unique_ptr<SSL_SESSION, SessionFree> m_session;
};

}  // namespace

int HttpsLoad(uint16_t port, const std::string& trusted, unsigned connections, unsigned seconds, const std::string& har) {
  const std::vector<HarRequest> requests = ReadHar(har);
  if (requests.empty() || connections == 0) throw std::runtime_error("no requests or no connections");
  std::map<std::string, std::vector<Target>> byHost;
  for (const HarRequest& request : requests) {
    const Target target = TargetOf(request);
    byHost[target.host].push_back(target);
  }
  net::ssl::context context(net::ssl::context::tls_client);
  context.load_verify_file(trusted);
  context.set_verify_mode(net::ssl::verify_peer);
  SSL_CTX_set_session_cache_mode(context.native_handle(), SSL_SESS_CACHE_CLIENT);

  std::vector<Tally> tallies(connections);
  std::vector<std::unique_ptr<Connection>> made;
  for (unsigned i = 0; i < connections; ++i) {
    const std::string& host = TargetOf(requests[static_cast<std::size_t>(i) * requests.size() / connections]).host;
    made.push_back(std::make_unique<Connection>(context, port, byHost[host], tallies[i]));
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (auto& connection : made) threads.emplace_back([&stop, &connection] { connection->Run(stop); });
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  stop = true;
  for (auto& thread : threads) thread.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  Tally all;
  for (const Tally& tally : tallies) {
    all.microseconds.insert(all.microseconds.end(), tally.microseconds.begin(), tally.microseconds.end());
    all.non2xx += tally.non2xx;
    all.errors += tally.errors;
    all.handshakes += tally.handshakes;
    all.resumed += tally.resumed;
  }
  std::sort(all.microseconds.begin(), all.microseconds.end());
  const auto percentile = [&](double p) {
    return all.microseconds.empty() ? 0.0 : all.microseconds[static_cast<std::size_t>(p * (all.microseconds.size() - 1))] / 1000.0;
  };
  std::printf("requests %zu rps %.1f p50 %.3f p99 %.3f non2xx %llu errors %llu handshakes %llu resumed %llu hosts %zu\n",
              all.microseconds.size(), static_cast<double>(all.microseconds.size()) / elapsed, percentile(0.5),
              percentile(0.99), static_cast<unsigned long long>(all.non2xx), static_cast<unsigned long long>(all.errors),
              static_cast<unsigned long long>(all.handshakes), static_cast<unsigned long long>(all.resumed), byHost.size());
  return 0;
}

}  // namespace proxy_load
