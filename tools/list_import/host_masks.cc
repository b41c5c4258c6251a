#include "tools/list_import/host_masks.h"

#include "url_parser/special_schemes.h"

namespace list_import {
namespace {

// Longest host name DNS allows.
constexpr size_t MaxHostLength = 253;
constexpr std::string_view Www = "www.";

bool IsHostChar(char c, bool wildcards) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
         (wildcards && c == '*');
}

std::string CheckHost(std::string_view host, bool wildcards) {
  if (host.empty()) return "empty host";
  if (host.size() > MaxHostLength) return "host longer than 253 characters";
  for (char c : host) {
    if (static_cast<unsigned char>(c) >= 0x80) return "not an ASCII host name (write it in punycode)";
    if (!IsHostChar(c, wildcards)) return std::string("'") + c + "' in a host name";
  }
  if (host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos) {
    return "empty label in a host name";
  }
  return {};
}

}  // namespace

HostMasks HostToMasks(std::string_view host, bool subdomains, bool wildcards) {
  HostMasks result;
  const std::string lower = orv::network::AsciiLowercase(host);
  result.problem = CheckHost(lower, wildcards);
  if (!result.problem.empty()) return result;
  result.labels = 1;
  for (char c : lower) result.labels += c == '.';
  result.www = lower.size() > Www.size() && lower.starts_with(Www);
  if (result.www) {
    result.masks.push_back(lower.substr(Www.size()));
    if (subdomains) result.masks.push_back("*." + lower);
  } else {
    result.masks.push_back(subdomains ? "*." + lower : lower);
  }
  return result;
}

std::vector<std::string> WithPath(const std::vector<std::string>& hostMasks, const std::string& path) {
  std::vector<std::string> masks;
  for (const std::string& host : hostMasks) masks.push_back(host + path);
  return masks;
}

}  // namespace list_import
