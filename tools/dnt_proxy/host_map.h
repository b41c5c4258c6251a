// --map-host: server names sent to a fixed local address instead of being
// looked up. A testing aid: it lets a browser or a test reach names such as
// "site.test" on a local origin, and keeps traffic off the network.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dnt_proxy {

class HostMap {
 public:
  /// Adds "PATTERN=ADDR:PORT": PATTERN is a host name, "*.SUFFIX" (every
  /// name that ends in ".SUFFIX") or "*" (every name); ADDR is an IP
  /// address. Throws std::invalid_argument.
  void Add(std::string_view rule);

  /// Where `host` goes, by the first pattern that matches it.
  std::optional<boost::asio::ip::tcp::endpoint> Find(std::string_view host) const;

 private:
  struct Rule {
    std::string pattern;
    boost::asio::ip::tcp::endpoint endpoint;
  };
  std::vector<Rule> m_rules;
};

}  // namespace dnt_proxy
