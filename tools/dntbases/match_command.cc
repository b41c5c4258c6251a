// dntbases match: load a raw dntbugs.dat and match URLs against its rules and
// exceptions, as the engine's queries do.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "do_not_track/dnt_engine/bug_queries.h"
#include "tools/dntbases/bug_bases_file.h"
#include "tools/dntbases/commands.h"
#include "tools/dntbases/timing_stats.h"

namespace dntbases {

namespace {

struct MatchOptions {
  std::string file;
  std::vector<std::string> urls;
  std::string urlsFrom;
  bool stats = false;
  bool trace = false;
};

std::vector<std::string> CollectUrls(const MatchOptions& options) {
  std::vector<std::string> urls = options.urls;
  if (options.urlsFrom.empty()) return urls;
  std::ifstream in(options.urlsFrom, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open file [" + options.urlsFrom + "]");
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) urls.push_back(line);
  }
  return urls;
}

nlohmann::json MatchOne(const dnt::BugBases& bases, const std::string& url) {
  const std::vector<uint32_t> rules = dnt::MatchBugRules(bases, url.data(), UrlLength(url));
  const std::vector<uint32_t> exceptions = dnt::MatchBugExceptions(bases, url.data(), UrlLength(url));
  std::vector<uint32_t> services;
  for (const uint32_t bug : rules) services.push_back(dnt::GetBugService(bases, bug).serviceId);
  std::sort(services.begin(), services.end());
  services.erase(std::unique(services.begin(), services.end()), services.end());
  return {{"url", url},
          {"rules", rules},
          {"exceptions", exceptions},
          {"category", dnt::GetSiteCategory(bases, exceptions)},
          {"services", services}};
}

// As a session asks for each request: rules, then exceptions, with one
// context reused from request to request.
nlohmann::json Stats(const dnt::BugBases& bases, const std::vector<std::string>& urls, int64_t loadNs) {
  dnt::BugMatchContext context;
  nlohmann::json out = MatchTimings(urls, [&](const std::string& url) {
    dnt::MatchBugRules(bases, url.data(), UrlLength(url), context);
    dnt::MatchBugExceptions(bases, url.data(), UrlLength(url), context);
  });
  out["load_ns"] = loadNs;
  return out;
}

int RunMatch(const MatchOptions& options) {
  const std::vector<std::string> urls = CollectUrls(options);
  const orv::ComPtr<orv::ITracer> tracer = MakeToolTracer(options.trace);
  const auto start = Clock::now();
  const std::unique_ptr<dnt::BugBases> bases = LoadBugBasesFile(options.file, tracer);
  const int64_t loadNs = NanosecondsSince(start);
  if (options.stats) {
    PrintJson(Stats(*bases, urls, loadNs));
  } else {
    for (const std::string& url : urls) PrintJson(MatchOne(*bases, url));
  }
  std::cout.flush();
  return 0;
}

}  // namespace

void AddMatchCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<MatchOptions>();
  CLI::App* command = app.add_subcommand(
      "match", "Load a bug database (dntbugs.dat, packed or raw, or a bases directory) and print, per URL, the matched rules and exceptions");
  command->add_option("FILE", options->file, "the bug database")->required();
  command->add_option("URL", options->urls, "URLs to match");
  command->add_option("--urls-from", options->urlsFrom, "file of URLs, one per line");
  command->add_flag("--stats", options->stats,
                    "print one JSON object with the load time and per-URL match timings instead of the matches");
  command->add_flag("--trace", options->trace, "write every trace line to standard error");
  command->callback([options, &exitCode] { exitCode = ExitStatusOf([&] { return RunMatch(*options); }); });
}

}  // namespace dntbases
