// dntbases mask-match: compile the masks of a file and match standard input
// against them, line by line.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "mask_engine/mask_engine.h"
#include "tools/dntbases/bug_bases_file.h"
#include "tools/dntbases/commands.h"
#include "tools/dntbases/timing_stats.h"

namespace dntbases {

namespace {

struct MaskMatchOptions {
  std::string masksFile;
  bool stats = false;
};

// Lines split at '\n' only, raw bytes; the empty piece after a final '\n'
// is not a line.
std::vector<std::string> SplitLines(const std::string& data) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    lines.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::shared_ptr<mask_engine::MaskEngine> CompileMasks(const std::vector<std::string>& masks) {
  auto engine = mask_engine::MaskEngine::Create();
  for (const std::string& mask : masks) {
    if (!mask.empty()) engine->AddMask(mask.data(), UrlLength(mask));
  }
  engine->Finalize();
  return engine;
}

void PrintMatches(mask_engine::MaskMatcher& matcher, const std::vector<std::string>& urls) {
  std::string line;
  for (const std::string& url : urls) {
    line.clear();
    for (const mask_engine::MaskMatch& match : matcher.Match(url.data(), UrlLength(url))) {
      if (!line.empty()) line.push_back(' ');
      line += std::to_string(match.index);
    }
    line.push_back('\n');
    std::cout << line;
  }
}

void PrintStats(const mask_engine::MaskEngine& engine, mask_engine::MaskMatcher& matcher,
                const std::vector<std::string>& urls, int64_t compileNs) {
  nlohmann::json out = MatchTimings(urls, [&](const std::string& url) { matcher.Match(url.data(), UrlLength(url)); });
  const mask_engine::MaskEngineStats stats = engine.Stats();
  out["masks"] = stats.masks;
  out["keys"] = stats.keys;
  out["indexed_keys"] = stats.indexedKeys;
  out["layout_bytes"] = stats.layoutBytes;
  out["index_bytes"] = stats.indexBytes;
  out["compile_ns"] = compileNs;
  std::cout << out.dump() << '\n';
}

int RunMaskMatch(const MaskMatchOptions& options) {
  std::string masksData;
  if (!ReadFile(options.masksFile, masksData)) {
    std::cerr << "mask-match: cannot read masks file '" << options.masksFile << "'\n";
    return 1;
  }
  std::ostringstream input;
  input << std::cin.rdbuf();
  const std::vector<std::string> urls = SplitLines(input.str());

  const auto start = Clock::now();
  const auto engine = CompileMasks(SplitLines(masksData));
  const int64_t compileNs = NanosecondsSince(start);

  const auto matcher = engine->CreateMatcher();
  if (options.stats) {
    PrintStats(*engine, *matcher, urls, compileNs);
  } else {
    PrintMatches(*matcher, urls);
  }
  std::cout.flush();
  return 0;
}

}  // namespace

void AddMaskMatchCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<MaskMatchOptions>();
  CLI::App* command = app.add_subcommand(
      "mask-match",
      "Compile the masks of MASKS_FILE (one per line) and print, for every line of standard input, "
      "the indexes of the masks that match it");
  command->add_option("MASKS_FILE", options->masksFile, "file of masks, one per line")->required();
  command->add_flag("--stats", options->stats,
                    "print one JSON object with sizes and match timings instead of the matches");
  command->callback(
      [options, &exitCode] { exitCode = ExitStatusOf([&] { return RunMaskMatch(*options); }, "mask-match: "); });
}

}  // namespace dntbases
