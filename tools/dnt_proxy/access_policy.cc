#include "tools/dnt_proxy/access_policy.h"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <stdexcept>

namespace dnt_proxy {
namespace {

namespace ip = boost::asio::ip;

constexpr uint16_t TlsPort = 443;

ip::address_v6 AsV6(const ip::address& address) {
  return address.is_v4() ? ip::make_address_v6(ip::v4_mapped, address.to_v4()) : address.to_v6();
}

bool SamePrefix(const ip::address_v6& a, const ip::address_v6& b, unsigned bits) {
  const auto x = a.to_bytes();
  const auto y = b.to_bytes();
  for (unsigned i = 0; i < 16 && bits > 0; ++i, bits = bits >= 8 ? bits - 8 : 0) {
    const unsigned char mask = bits >= 8 ? 0xff : static_cast<unsigned char>(0xff << (8 - bits));
    if ((x[i] & mask) != (y[i] & mask)) return false;
  }
  return true;
}

bool InAny(const std::vector<Network>& networks, const ip::address& address) {
  return std::any_of(networks.begin(), networks.end(), [&](const Network& network) { return network.Contains(address); });
}

std::vector<Network> Networks(std::initializer_list<const char*> cidrs) {
  std::vector<Network> networks;
  for (const char* cidr : cidrs) networks.push_back(Network::Parse(cidr, "built-in"));
  return networks;
}

// "This host": loopback and the unspecified addresses, which connect to
// the host itself.
const std::vector<Network>& HostNetworks() {
  static const std::vector<Network> networks = Networks({"0.0.0.0/8", "127.0.0.0/8", "::/128", "::1/128"});
  return networks;
}

const std::vector<Network>& LinkLocalNetworks() {
  static const std::vector<Network> networks = Networks({"169.254.0.0/16", "fe80::/10"});
  return networks;
}

// Networks that are not the internet: private, shared (carrier-grade NAT),
// IETF and benchmarking, multicast and reserved; in IPv6 the deprecated
// IPv4-compatible and site-local forms, unique-local, the local-use NAT64
// prefix and multicast.
const std::vector<Network>& PrivateNetworks() {
  static const std::vector<Network> networks =
      Networks({"10.0.0.0/8", "100.64.0.0/10", "172.16.0.0/12", "192.0.0.0/24", "192.168.0.0/16", "198.18.0.0/15",
                "224.0.0.0/4", "240.0.0.0/4", "::/96", "64:ff9b:1::/48", "100::/64", "fc00::/7", "fec0::/10",
                "ff00::/8"});
  return networks;
}

enum class Match { Self, ConnectPort, Denied, Mapped, LocalClient, ProxyHost, LinkLocal, Allowed, Private };

struct Rule {
  Match match;
  bool allow;
  unsigned status;
  // Refused: after the address.
  const char* why;
};

// The order is the policy: see the header.
constexpr std::array<Rule, 9> Table = {{
    {Match::ConnectPort, false, 403, ": CONNECT is allowed to port 443 only (and the ports of --connect-port)"},
    {Match::Self, false, 508, " is where this proxy listens: the request would come round to it"},
    {Match::Denied, false, 403, " is in a network refused by --deny-destination"},
    {Match::Mapped, true, 0, ""},
    {Match::LocalClient, true, 0, ""},
    {Match::ProxyHost, false, 403, " is the proxy's own host, which only local clients reach through it"},
    {Match::LinkLocal, false, 403, " is link-local, which only local clients reach through the proxy"},
    {Match::Allowed, true, 0, ""},
    {Match::Private, false, 403, " is in a private network (--allow-destination opens it)"},
}};

}  // namespace

Network Network::Parse(std::string_view cidr, std::string_view option) {
  const auto slash = cidr.find('/');
  boost::system::error_code error;
  const ip::address address = ip::make_address(std::string(cidr.substr(0, slash)), error);
  const unsigned width = address.is_v4() ? 32 : 128;
  unsigned bits = width;
  if (!error && slash != std::string_view::npos) {
    const std::string text(cidr.substr(slash + 1));
    const bool digits = !text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos;
    bits = digits ? static_cast<unsigned>(std::stoul(text)) : width + 1;
  }
  if (error || bits > width) {
    throw std::invalid_argument(std::string(option) + " takes ADDR/BITS, not \"" + std::string(cidr) + "\"");
  }
  return {AsV6(address), bits + (128 - width)};
}

bool Network::Contains(const ip::address& address) const { return SamePrefix(AsV6(address), base, bits); }

ip::address Unmapped(const ip::address& address) {
  if (address.is_v4()) return address;
  const ip::address_v6 v6 = address.to_v6();
  if (v6.is_v4_mapped()) return ip::make_address_v4(ip::v4_mapped, v6);
  static const Network nat64 = Network::Parse("64:ff9b::/96", "built-in");
  if (nat64.Contains(v6)) {
    const auto bytes = v6.to_bytes();
    return ip::address_v4(ip::address_v4::bytes_type{bytes[12], bytes[13], bytes[14], bytes[15]});
  }
  return address;
}

std::vector<ip::address> InterfaceAddresses() {
  std::vector<ip::address> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr) continue;
    if (entry->ifa_addr->sa_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      addresses.push_back(ip::address_v4(ntohl(in->sin_addr.s_addr)));
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      const auto* in = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      ip::address_v6::bytes_type bytes;
      std::copy(std::begin(in->sin6_addr.s6_addr), std::end(in->sin6_addr.s6_addr), bytes.begin());
      addresses.push_back(ip::address_v6(bytes));
    }
  }
  freeifaddrs(list);
  return addresses;
}

AccessPolicy::AccessPolicy() : m_connectPorts{TlsPort} {}

void AccessPolicy::AllowClient(std::string_view cidr) { m_clients.push_back(Network::Parse(cidr, "--allow-client")); }

void AccessPolicy::AllowDestination(std::string_view cidr) {
  m_allowed.push_back(Network::Parse(cidr, "--allow-destination"));
}

void AccessPolicy::DenyDestination(std::string_view cidr) {
  m_denied.push_back(Network::Parse(cidr, "--deny-destination"));
}

void AccessPolicy::AllowConnectPort(uint16_t port) { m_connectPorts.insert(port); }

void AccessPolicy::SetHostAddresses(std::vector<ip::address> addresses) {
  m_host.clear();
  for (const ip::address& address : addresses) m_host.push_back(Unmapped(address));
}

bool AccessPolicy::AllowsClient(const ip::address& client) const {
  const ip::address address = Unmapped(client);
  return address.is_loopback() || InAny(m_clients, address);
}

bool AccessPolicy::IsProxyHost(const ip::address& address, const DestinationRequest& request) const {
  // A connection to the host's own address comes from that very address.
  return InAny(HostNetworks(), address) || std::find(m_host.begin(), m_host.end(), address) != m_host.end() ||
         (request.local && Unmapped(*request.local) == address);
}

AccessDecision AccessPolicy::Decide(const DestinationRequest& request, const ip::tcp::endpoint& listening) const {
  const ip::address address = request.destination ? Unmapped(request.destination->address()) : ip::address();
  const auto matches = [&](Match match) {
    switch (match) {
      case Match::Self:
        return request.destination->port() == listening.port() && IsProxyHost(address, request);
      case Match::ConnectPort:
        return request.tunnel && m_connectPorts.count(request.port) == 0;
      case Match::Denied:
        return InAny(m_denied, address);
      case Match::Mapped:
        return request.mapped;
      case Match::LocalClient:
        return Unmapped(request.client).is_loopback();
      case Match::ProxyHost:
        return IsProxyHost(address, request);
      case Match::LinkLocal:
        return InAny(LinkLocalNetworks(), address);
      case Match::Allowed:
        return InAny(m_allowed, address);
      case Match::Private:
        return InAny(PrivateNetworks(), address);
    }
    return false;
  };
  for (const Rule& rule : Table) {
    if (rule.match != Match::ConnectPort && !request.destination) return {};
    if (!matches(rule.match)) continue;
    if (rule.allow) return {};
    const std::string where = rule.match == Match::ConnectPort ? "port " + std::to_string(request.port)
                                                               : request.destination->address().to_string();
    return {false, rule.status, where + rule.why};
  }
  return {};
}

}  // namespace dnt_proxy
