#include "tools/list_import/hosts_file.h"

#include <algorithm>
#include <array>
#include <vector>

#include "tools/list_import/host_masks.h"
#include "tools/list_import/list_service.h"
#include "url_parser/special_schemes.h"

namespace list_import {
namespace {

constexpr std::array<std::string_view, 6> LocalNames = {"localhost", "localhost.localdomain", "local",
                                                        "broadcasthost", "ip6-localhost", "ip6-loopback"};

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  for (size_t start = line.find_first_not_of(" \t"); start != std::string_view::npos;) {
    const size_t end = line.find_first_of(" \t", start);
    tokens.push_back(line.substr(start, end - start));
    start = end == std::string_view::npos ? end : line.find_first_not_of(" \t", end);
  }
  return tokens;
}

bool IsIpv4(std::string_view text) {
  int parts = 0;
  while (parts < 4) {
    const size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        std::stoi(std::string(part)) > 255) {
      return false;
    }
    ++parts;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts == 4 && text.find('.') == std::string_view::npos;
}

bool IsIpv6(std::string_view text) {
  return text.find(':') != std::string_view::npos && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
         });
}

// Host names are compared without case.
bool IsLocalName(std::string_view token) {
  const std::string host = orv::network::AsciiLowercase(token);
  return std::find(LocalNames.begin(), LocalNames.end(), host) != LocalNames.end() || host.starts_with("ip6-") ||
         IsIpv4(host);
}

void ImportHostsLine(size_t number, std::string_view line, ImportedBug& bug, ImportReport& report) {
  const size_t hash = line.find('#');
  if (hash != std::string_view::npos) {
    report.comments += hash == 0;
    line = line.substr(0, hash);
  }
  const std::vector<std::string_view> tokens = Tokens(line);
  if (tokens.empty()) return;
  const std::string where = "line " + std::to_string(number);
  if (!IsIpv4(tokens[0]) && !IsIpv6(tokens[0])) return report.Unsupported(where, line, "not \"<address> <host>...\"");
  if (tokens.size() == 1) return report.Unsupported(where, line, "an address without a host");
  for (size_t i = 1; i < tokens.size(); ++i) {
    if (IsLocalName(tokens[i])) {
      ++report.localNames;
      continue;
    }
    const HostMasks masks = HostToMasks(tokens[i], false, false);
    if (!masks.problem.empty()) {
      report.Unsupported(where, tokens[i], masks.problem);
      continue;
    }
    report.wwwHosts += masks.www;
    bug.rules.insert(bug.rules.end(), masks.masks.begin(), masks.masks.end());
  }
}

}  // namespace

void ImportHostsFile(std::string_view text, uint32_t serviceId, uint32_t category, const std::string& name,
                     ImportedBases& bases, ImportReport& report) {
  ImportListService(text, serviceId, category, name, bases, report, ImportHostsLine);
}

}  // namespace list_import
