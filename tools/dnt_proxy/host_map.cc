#include "tools/dnt_proxy/host_map.h"

#include <stdexcept>

#include "tools/dnt_proxy/forwarding.h"
#include "url_parser/special_schemes.h"

namespace dnt_proxy {
namespace {

bool Matches(std::string_view pattern, std::string_view host) {
  if (pattern == "*") return true;
  if (pattern.substr(0, 2) == "*.") {
    const std::string_view suffix = pattern.substr(1);
    return host.size() > suffix.size() && orv::network::EqualsIgnoringAsciiCase(host.substr(host.size() - suffix.size()), suffix);
  }
  return orv::network::EqualsIgnoringAsciiCase(pattern, host);
}

}  // namespace

void HostMap::Add(std::string_view rule) {
  const auto equals = rule.find('=');
  const auto target = equals == std::string_view::npos ? std::nullopt : ParseAuthority(rule.substr(equals + 1));
  boost::system::error_code error;
  const auto address = target ? boost::asio::ip::make_address(target->host, error) : boost::asio::ip::address();
  if (!target || error || equals == 0) {
    throw std::invalid_argument("--map-host takes PATTERN=ADDR:PORT with an IP address, not \"" + std::string(rule) +
                                "\"");
  }
  m_rules.push_back({std::string(rule.substr(0, equals)), {address, target->port}});
}

std::optional<boost::asio::ip::tcp::endpoint> HostMap::Find(std::string_view host) const {
  for (const Rule& rule : m_rules) {
    if (Matches(rule.pattern, host)) return rule.endpoint;
  }
  return std::nullopt;
}

}  // namespace dnt_proxy
