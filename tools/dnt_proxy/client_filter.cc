#include "tools/dnt_proxy/client_filter.h"

#include <stdexcept>
#include <string>

namespace dnt_proxy {
namespace {

namespace ip = boost::asio::ip;

// IPv4 addresses compare as their v4-mapped IPv6 form, so that one test
// covers both families and a dual-stack socket's mapped clients.
ip::address_v6 Mapped(const ip::address& address) {
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

}  // namespace

void ClientFilter::Allow(std::string_view cidr) {
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
  if (error || bits > width) throw std::invalid_argument("--allow-client takes ADDR/BITS, not \"" + std::string(cidr) + "\"");
  m_networks.push_back({Mapped(address), bits + (128 - width)});
}

bool ClientFilter::Allows(const ip::address& client) const {
  const ip::address_v6 mapped = Mapped(client);
  if (client.is_loopback() || (mapped.is_v4_mapped() && ip::make_address_v4(ip::v4_mapped, mapped).is_loopback())) {
    return true;
  }
  for (const Network& network : m_networks) {
    if (SamePrefix(mapped, network.base, network.bits)) return true;
  }
  return false;
}

}  // namespace dnt_proxy
