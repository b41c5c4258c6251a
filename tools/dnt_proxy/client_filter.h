// Which clients the proxy serves: loopback always, other addresses only
// inside the networks given with --allow-client.
#pragma once

#include <boost/asio/ip/address.hpp>
#include <string_view>
#include <vector>

namespace dnt_proxy {

class ClientFilter {
 public:
  /// Adds a network "ADDR/BITS" (or one address). Throws
  /// std::invalid_argument.
  void Allow(std::string_view cidr);
  bool AllowsOthersThanLoopback() const { return !m_networks.empty(); }
  bool Allows(const boost::asio::ip::address& client) const;

 private:
  struct Network {
    boost::asio::ip::address_v6 base;  // IPv4 as v4-mapped
    unsigned bits;
  };
  std::vector<Network> m_networks;
};

}  // namespace dnt_proxy
