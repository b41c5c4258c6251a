// Host names of tracker lists as masks of the bug database.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace list_import {

struct HostMasks {
  /// Empty when the host cannot be written as a mask (see `problem`).
  std::vector<std::string> masks;
  /// Why the host was refused; empty on success.
  std::string problem;
  /// The host began with "www." (see HostToMasks).
  bool www = false;
  /// The number of labels of the host: more labels, more specific.
  uint32_t labels = 0;
};


/// The masks that match `host` (and, with `subdomains`, every host below
/// it). The engine drops one leading "www." from the hosts of URLs before
/// matching, so a host written with "www." becomes a mask without it (and
/// "*.www.host" for its subdomains). Hosts are lower-cased; `wildcards`
/// allows '*' inside the host. Anything but letters, digits, '-', '_' and
/// non-empty dot-separated labels is refused.
HostMasks HostToMasks(std::string_view host, bool subdomains, bool wildcards);

/// The masks of `host` followed by `path` each (path begins with '/').
std::vector<std::string> WithPath(const std::vector<std::string>& hostMasks, const std::string& path);

}  // namespace list_import
