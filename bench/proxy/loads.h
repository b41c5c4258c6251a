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

/// The soak: `sessions` client connections of `perSession` requests each,
/// through the proxy at `port` (process `pid`), to the hosts of `har` in
/// turn; a bases swap (SIGHUP) every `swapEvery` requests and the proxy's
/// resident memory every `reportEvery`.
int Soak(uint16_t port, int pid, const std::string& har, uint64_t sessions, uint64_t perSession, uint64_t swapEvery,
         uint64_t reportEvery);

}  // namespace proxy_load
