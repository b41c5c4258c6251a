#include "tools/list_import/adblock_list.h"

#include <algorithm>
#include <array>
#include <vector>

#include "tools/list_import/host_masks.h"
#include "tools/list_import/list_service.h"
#include "url_parser/special_schemes.h"

namespace list_import {
namespace {

constexpr std::string_view DomainAnchor = "||";
constexpr std::string_view ExceptionMark = "@@";

// Options the import drops: all but $important only narrow where a rule
// applies (request type, party, the page it is on, letter case), so a rule
// without them applies more widely.
constexpr std::array<std::string_view, 25> IgnoredOptions = {
    "third-party", "3p",    "first-party", "1p",     "strict1p",    "strict3p",  "script",
    "image",       "stylesheet", "css",    "xmlhttprequest", "xhr", "subdocument", "frame",
    "ping",        "beacon", "media",      "font",   "object",      "other",     "websocket",
    "match-case",  "important", "domain",  "method"};

// "##", "#@#", "#?#", "#$#", "#%#", "#@?#" ... hide page elements or run
// scriptlets; "$$" and "$@$" filter HTML. None of them is a network rule.
bool IsCosmetic(std::string_view line) {
  if (line.find("$$") != std::string_view::npos || line.find("$@$") != std::string_view::npos) return true;
  for (size_t i = line.find('#'); i != std::string_view::npos; i = line.find('#', i + 1)) {
    size_t j = i + 1;
    while (j < line.size() && std::string_view("@?$%").find(line[j]) != std::string_view::npos) ++j;
    if (j < line.size() && line[j] == '#') return true;
  }
  return false;
}

bool IsComment(std::string_view line) {
  return line.starts_with('!') || line.starts_with('[') || (line.starts_with('#') && !IsCosmetic(line));
}

// Empty when every option can be dropped; otherwise why the rule cannot be
// imported. The names of the options to drop go to `ignored`.
std::string CheckOptions(std::string_view options, std::vector<std::string>& ignored) {
  while (!options.empty()) {
    const size_t comma = options.find(',');
    std::string_view option = options.substr(0, comma);
    options.remove_prefix(comma == std::string_view::npos ? options.size() : comma + 1);
    if (option.starts_with('~')) option.remove_prefix(1);
    const std::string name = orv::network::AsciiLowercase(option.substr(0, option.find('=')));
    if (name.empty()) continue;
    if (std::find(IgnoredOptions.begin(), IgnoredOptions.end(), name) == IgnoredOptions.end()) {
      return "option $" + name + " changes what the rule does";
    }
    ignored.push_back(name);
  }
  return {};
}

bool IsPathChar(char c) {
  return c > ' ' && c < 0x7F && std::string_view("\"#<>@[]`{}\\").find(c) == std::string_view::npos;
}

// The path part of a rule after its host ("^*/ad.js", "/ads/^"), as the
// path of a mask; empty with `problem` set when it cannot be one.
std::string MaskPath(std::string_view tail, std::string& problem) {
  std::string path = tail.starts_with('^') ? "/" + std::string(tail.substr(tail.starts_with("^/") ? 2 : 1))
                                           : std::string(tail);
  bool anchored = false;
  for (std::string_view end : {"^|", "^", "|"}) {
    if (!anchored && path.ends_with(end)) {
      path.resize(path.size() - end.size());
      anchored = true;
    }
  }
  if (path.find('?') != std::string::npos) {
    problem = "a rule on the query string (rules see addresses up to the '?')";
  } else if (path.find_first_of("^|") != std::string::npos) {
    problem = "a separator inside the path";
  } else if (auto bad = std::find_if_not(path.begin(), path.end(), IsPathChar); bad != path.end()) {
    problem = std::string("'") + *bad + "' in the path";
  }
  if (!problem.empty()) return {};
  path = orv::network::AsciiLowercase(path);
  // Without an end anchor a rule matches any address that begins with it.
  if (!anchored && !path.ends_with('*')) path += '*';
  return path;
}

struct PatternMasks {
  std::vector<std::string> masks;
  std::string problem;
  bool www = false;
};

PatternMasks MasksOf(std::string_view pattern) {
  PatternMasks result;
  const size_t hostEnd = pattern.find_first_of("/^|");
  std::string_view host = pattern.substr(0, hostEnd);
  const std::string_view tail = hostEnd == std::string_view::npos ? std::string_view() : pattern.substr(hostEnd);
  // "||" already reaches every subdomain.
  if (host.starts_with("*.")) host.remove_prefix(2);
  const HostMasks hosts = HostToMasks(host, true, true);
  result.problem = hosts.problem;
  result.www = hosts.www;
  if (!result.problem.empty()) return result;
  if (tail.empty() || tail == "^" || tail == "|" || tail == "^|") {
    result.masks = hosts.masks;
  } else if (tail.starts_with('|')) {
    result.problem = "'|' inside a rule";
  } else if (const std::string path = MaskPath(tail, result.problem); result.problem.empty()) {
    result.masks = WithPath(hosts.masks, path);
  }
  return result;
}

void ImportAdblockLine(size_t number, std::string_view line, ImportedBug& bug, ImportReport& report) {
  if (line.empty()) return;
  if (IsComment(line)) {
    ++report.comments;
    return;
  }
  const std::string where = "line " + std::to_string(number);
  if (IsCosmetic(line)) return report.Unsupported(where, line, "element hiding or scriptlet rule");
  std::string_view pattern = line;
  const bool exception = pattern.starts_with(ExceptionMark);
  if (exception) pattern.remove_prefix(ExceptionMark.size());
  std::string_view options;
  if (const size_t dollar = pattern.rfind('$'); dollar != std::string_view::npos) {
    options = pattern.substr(dollar + 1);
    pattern = pattern.substr(0, dollar);
  }
  if (!pattern.starts_with(DomainAnchor)) {
    const bool regex = pattern.size() > 1 && pattern.starts_with('/') && pattern.ends_with('/');
    return report.Unsupported(where, line, regex ? "regular expression" : "no || domain anchor");
  }
  std::vector<std::string> ignored;
  if (std::string why = CheckOptions(options, ignored); !why.empty()) return report.Unsupported(where, line, why);
  // An exception lifts blocks: widened, it would lift them everywhere.
  const auto narrowing =
      std::find_if(ignored.begin(), ignored.end(), [](const std::string& name) { return name != "important"; });
  if (exception && narrowing != ignored.end()) {
    return report.Unsupported(where, line, "an exception narrowed by $" + *narrowing + " would apply everywhere");
  }
  PatternMasks masks = MasksOf(pattern.substr(DomainAnchor.size()));
  if (!masks.problem.empty()) return report.Unsupported(where, line, masks.problem);
  for (const std::string& name : ignored) ++report.ignoredOptions[name];
  report.wwwHosts += masks.www;
  auto& target = exception ? bug.exceptions : bug.rules;
  target.insert(target.end(), masks.masks.begin(), masks.masks.end());
}

}  // namespace

void ImportAdblockList(std::string_view text, uint32_t serviceId, uint32_t category, const std::string& name,
                       ImportedBases& bases, ImportReport& report) {
  ImportListService(text, serviceId, category, name, bases, report, ImportAdblockLine);
}

}  // namespace list_import
