// TLS handshakes through a proxy that intercepts: CONNECT, then the
// handshake with the leaf the proxy shows, verified against its authority,
// then the connection ends. Cold: every handshake asks for a name of its own,
// so every one makes a leaf; warm: a few names over and over, so every one
// finds its leaf made.
#include <openssl/ssl.h>

#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <iostream>
#include <thread>

#include "bench/proxy/loads.h"

namespace proxy_load {

namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;

// A tracker domain the default bases ask to see, and every name below it.
constexpr const char* Domain = ".doubleclick.net";
constexpr uint64_t WarmNames = 16;

void Handshake(net::io_context& io, net::ssl::context& context, uint16_t port, const std::string& host) {
  net::ssl::stream<tcp::socket> stream(io, context);
  stream.next_layer().connect({net::ip::address_v4::loopback(), port});
  net::write(stream.next_layer(), net::buffer("CONNECT " + host + ":443 HTTP/1.1\r\nHost: " + host + ":443\r\n\r\n"));
  net::streambuf head;
  net::read_until(stream.next_layer(), head, "\r\n\r\n");
  const std::string answer(net::buffers_begin(head.data()), net::buffers_end(head.data()));
  if (answer.rfind("HTTP/1.1 200", 0) != 0) throw std::runtime_error("CONNECT " + host + ": " + answer);
  SSL_set_tlsext_host_name(stream.native_handle(), host.c_str());
  SSL_set1_host(stream.native_handle(), host.c_str());
  stream.handshake(net::ssl::stream_base::client);
}

}  // namespace

int Handshakes(uint16_t port, const std::string& ca, bool cold, unsigned clients, unsigned seconds) {
  net::ssl::context context(net::ssl::context::tls_client);
  context.load_verify_file(ca);
  context.set_verify_mode(net::ssl::verify_peer);
  // No session is resumed: every handshake is a whole one.
  SSL_CTX_set_session_cache_mode(context.native_handle(), SSL_SESS_CACHE_OFF);
  SSL_CTX_set_options(context.native_handle(), SSL_OP_NO_TICKET);
  const auto name = [cold](unsigned client, uint64_t i) {
    return cold ? "c" + std::to_string(client) + "-" + std::to_string(i) + Domain : "w" + std::to_string(i % WarmNames) + Domain;
  };
  if (!cold) {
    net::io_context io;
    for (uint64_t i = 0; i < WarmNames; ++i) Handshake(io, context, port, name(0, i));
  }
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> done{0}, failed{0};
  std::vector<std::thread> threads;
  const auto start = std::chrono::steady_clock::now();
  for (unsigned client = 0; client < clients; ++client) {
    threads.emplace_back([&, client] {
      net::io_context io;
      for (uint64_t i = 0; !stop; ++i) {
        try {
          Handshake(io, context, port, name(client, i));
          ++done;
        } catch (const std::exception& e) {
          if (++failed == 1) std::cerr << "proxy_load: " << e.what() << '\n';
        }
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  stop = true;
  for (auto& thread : threads) thread.join();
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << static_cast<double>(done) / elapsed << " handshakes/s (" << done << " in " << elapsed << " s, " << failed
            << " failed)\n";
  return failed == 0 ? 0 : 1;
}

}  // namespace proxy_load
