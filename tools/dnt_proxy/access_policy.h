// Who may use the proxy, and where it may take them: one ordered table of
// rules, evaluated in one place, first match wins (the shape of Squid's
// http_access). Clients are served from loopback, and from the networks of
// --allow-client. A destination is judged on the address a connection goes
// to, never on a name: before connecting on every address the name resolved
// to, and once more when connected, with the proxy's own end of the
// connection in hand. The rules, in order:
//   1. CONNECT to a port that is neither 443 nor one of --connect-port;
//   2. the proxy's own listening port on an address of its host: refused
//      (508), for every client: the proxy would serve itself in a loop;
//   3. an address in a network of --deny-destination;
//   4. an address --map-host gave: allowed (the operator chose it);
//   5. a client on loopback: allowed (the local user reaches the host and
//      its networks anyway);
//   6. the proxy's host (loopback, 0.0.0.0 and ::, its interfaces' addresses,
//      any address the connection turns out to come back to);
//   7. link-local addresses;
//   8. an address in a network of --allow-destination: allowed;
//   9. private and special-purpose networks;
//  10. anything else (the internet): allowed.
// Refusals are 403 unless the table says otherwise. IPv4-mapped IPv6
// addresses are judged as the IPv4 address they carry. Before the address
// is known (a CONNECT just read) the table runs as far as it can: up to the
// first rule that needs the address.
#pragma once

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace dnt_proxy {

/// An address network "ADDR/BITS" (or one address).
struct Network {
  /// IPv4 as v4-mapped.
  boost::asio::ip::address_v6 base;
  unsigned bits = 128;

  /// Throws std::invalid_argument, naming `option` ("--allow-client").
  static Network Parse(std::string_view cidr, std::string_view option);
  bool Contains(const boost::asio::ip::address& address) const;
};

/// The address as judged: an IPv4 address carried in an IPv4-mapped (or
/// NAT64 well-known-prefix) IPv6 address becomes that IPv4 address.
boost::asio::ip::address Unmapped(const boost::asio::ip::address& address);

/// The addresses of the machine's interfaces, as the operating system lists
/// them now.
std::vector<boost::asio::ip::address> InterfaceAddresses();

/// A connection the proxy is about to make, or has made, for a client.
struct DestinationRequest {
  boost::asio::ip::address client;
  /// CONNECT: a tunnel.
  bool tunnel = false;
  /// The port the request named (not a --map-host port).
  uint16_t port = 0;
  /// Where the connection goes; none before it is known.
  std::optional<boost::asio::ip::tcp::endpoint> destination;
  /// The destination is a --map-host address.
  bool mapped = false;
  /// Once connected: the proxy's own end of the connection.
  std::optional<boost::asio::ip::address> local;
};

struct AccessDecision {
  bool allowed = true;
  /// Refused: the status and why (for the client and the log).
  unsigned status = 0;
  std::string reason;
};

class AccessPolicy {
 public:
  /// 443 is always allowed for CONNECT.
  AccessPolicy();

  /// Serves clients from `cidr` too. Throws std::invalid_argument.
  void AllowClient(std::string_view cidr);
  void AllowDestination(std::string_view cidr);
  void DenyDestination(std::string_view cidr);
  void AllowConnectPort(uint16_t port);
  /// The host's own addresses (see InterfaceAddresses), besides loopback
  /// and the unspecified ones.
  void SetHostAddresses(std::vector<boost::asio::ip::address> addresses);
  /// Client connections one client address may hold at once.
  void SetMaxClientsPerAddress(std::size_t count) { m_maxPerClient = count; }

  bool AllowsClient(const boost::asio::ip::address& client) const;
  std::size_t MaxClientsPerAddress() const { return m_maxPerClient; }

  /// The table's answer for `request`, where the proxy listens on
  /// `listening`.
  AccessDecision Decide(const DestinationRequest& request, const boost::asio::ip::tcp::endpoint& listening) const;

 private:
  bool IsProxyHost(const boost::asio::ip::address& address, const DestinationRequest& request) const;

  std::vector<Network> m_clients;
  std::vector<Network> m_allowed;
  std::vector<Network> m_denied;
  std::set<uint16_t> m_connectPorts;
  std::vector<boost::asio::ip::address> m_host;
  std::size_t m_maxPerClient = 256;
};

}  // namespace dnt_proxy
