// The loads of the proxy benchmarks, one function per subcommand of
// proxy_load (see proxy_load.cc), and what they share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace proxy_load {

/// A request of the page load, over plain HTTP.
struct HarRequest {
  std::string method;
  std::string url;
  std::string body;
};

/// The requests of a HAR file; https:// URLs become http:// ones.
std::vector<HarRequest> ReadHar(const std::string& path);

/// A Privoxy action file that blocks the tracker hosts the entity list gives
/// the default bases.
int PrivoxyActions(const std::string& entities);

/// CONNECT and TLS handshakes through the proxy at `port` for `seconds`, on
/// `clients` connections at a time, verified with the authority `ca`: with
/// a new server name every time (`cold`), or with a few names over and over.
int Handshakes(uint16_t port, const std::string& ca, bool cold, unsigned clients, unsigned seconds);

/// The page load's requests over HTTPS through the proxy at `port`, on
/// `connections` tunnels for `seconds`, trusting the authorities in the PEM
/// file `trusted`; prints one line of figures.
int HttpsLoad(uint16_t port, const std::string& trusted, unsigned connections, unsigned seconds, const std::string& har);

/// A compressed day of browsing through the proxy at `port`: `clients`
/// clients (addresses 127.0.0.10 on), each with `connections` keep-alive
/// connections, `requestsPerClient` requests each, evenly paced over
/// `seconds`, to `hosts` server hosts of the entity list.
int BrowsingDay(uint16_t port, const std::string& entities, unsigned clients, unsigned connections, unsigned hosts,
                unsigned seconds, uint64_t requestsPerClient);

/// The soak: `sessions` client connections of `perSession` requests each,
/// through the proxy at `port` (process `pid`), to the hosts of `har` in
/// turn; a bases swap (SIGHUP) every `swapEvery` requests and the proxy's
/// resident memory every `reportEvery`.
int Soak(uint16_t port, int pid, const std::string& har, uint64_t sessions, uint64_t perSession, uint64_t swapEvery,
         uint64_t reportEvery);

}  // namespace proxy_load
