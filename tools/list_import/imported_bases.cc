#include "tools/list_import/imported_bases.h"

#include <algorithm>
#include <numeric>
#include <set>

namespace list_import {
namespace {

constexpr size_t QuoteLimit = 80;

std::string Quote(std::string_view text) {
  std::string quoted(text.substr(0, QuoteLimit));
  if (text.size() > QuoteLimit) quoted += "...";
  return quoted;
}

std::string JoinCounts(const std::map<std::string, size_t>& counts) {
  std::string text;
  for (const auto& [name, count] : counts) {
    if (!text.empty()) text += ", ";
    text += name + " " + std::to_string(count);
  }
  return text;
}

// The order in which bugs get their ids: most specific first; ties keep the
// order of the lists.
std::vector<size_t> BugOrder(const ImportedBases& bases) {
  std::vector<size_t> order(bases.bugs.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return bases.bugs[a].specificity < bases.bugs[b].specificity;
  });
  return order;
}

std::string_view MaskHost(std::string_view mask) { return mask.substr(0, mask.find('/')); }

}  // namespace

uint32_t ImportedBases::LastServiceId() const {
  uint32_t last = 0;
  for (const ImportedService& service : services) last = std::max(last, service.id);
  return last;
}

void ImportReport::Unsupported(const std::string& where, std::string_view text, const std::string& why) {
  ++unsupported;
  if (samples.size() < SampleLimit) samples.push_back(where + ": " + Quote(text) + " (" + why + ")");
}

std::string Describe(const ImportReport& report) {
  std::string text = report.input + ": " + std::to_string(report.services) + " service(s), " +
                     std::to_string(report.rules) + " rule(s), " + std::to_string(report.exceptions) +
                     " exception(s)";
  if (report.comments) text += ", " + std::to_string(report.comments) + " comment line(s)";
  text += "\n";
  if (report.unsupported) {
    text += "  " + std::to_string(report.unsupported) + " unsupported entr" + (report.unsupported == 1 ? "y" : "ies");
    text += report.unsupported > report.samples.size() ? ", the first " + std::to_string(report.samples.size()) + ":\n"
                                                        : ":\n";
    for (const std::string& sample : report.samples) text += "    " + sample + "\n";
  }
  if (!report.ignoredOptions.empty()) text += "  options ignored: " + JoinCounts(report.ignoredOptions) + "\n";
  if (!report.leftOut.empty()) text += "  entities left out by category: " + JoinCounts(report.leftOut) + "\n";
  if (report.localNames) text += "  local names skipped: " + std::to_string(report.localNames) + "\n";
  if (report.wwwHosts) {
    text += "  hosts with a leading www. (matched without it, as the engine drops it from URLs): " +
            std::to_string(report.wwwHosts) + "\n";
  }
  for (const std::string& name : report.emptyServices) text += "  service without any domain: " + name + "\n";
  return text;
}

nlohmann::json ToSourceJson(const ImportedBases& bases, const std::vector<std::string>& scripts,
                            size_t& duplicateMasks) {
  nlohmann::json services = nlohmann::json::array(), bugs = nlohmann::json::array();
  nlohmann::json rules = nlohmann::json::array(), exceptions = nlohmann::json::array();
  nlohmann::json httpsDomains = nlohmann::json::array();
  std::vector<ImportedService> sorted = bases.services;
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
  for (const ImportedService& service : sorted) {
    services.push_back({{"id", service.id}, {"category", service.category}, {"name", service.name}});
  }
  std::set<std::string, std::less<>> ruleMasks, hosts;
  duplicateMasks = 0;
  uint32_t bugId = 0;
  for (const size_t index : BugOrder(bases)) {
    const ImportedBug& bug = bases.bugs[index];
    bugs.push_back({{"id", ++bugId}, {"service", bug.serviceId}});
    for (const std::string& mask : bug.rules) {
      if (!ruleMasks.insert(mask).second) {
        ++duplicateMasks;
        continue;
      }
      rules.push_back({{"mask", mask}, {"bug", bugId}});
      if (hosts.insert(std::string(MaskHost(mask))).second) httpsDomains.push_back(MaskHost(mask));
    }
    for (const std::string& mask : bug.exceptions) exceptions.push_back({{"mask", mask}, {"bug", bugId}});
  }
  return {{"version", {1, 0}}, {"services", services}, {"bugs", bugs},
          {"rules", rules},    {"exceptions", exceptions}, {"https_domains", httpsDomains},
          {"scripts", scripts}};
}

}  // namespace list_import
