// dntbases check: load a bases directory as the component would and print
// what it holds as JSON.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "tools/dntbases/bases_directory.h"
#include "tools/dntbases/bug_bases_file.h"
#include "tools/dntbases/commands.h"

namespace dntbases {
namespace {

struct CheckOptions {
  std::string directory;
  bool trace = false;
};

nlohmann::json DescribeBases(const dnt::Bases& bases) {
  nlohmann::json scripts = nlohmann::json::array();
  for (const auto& [name, chunk] : bases.Scripts().Scripts()) scripts.push_back(name);
  const dnt::BugBases& bugs = bases.Bugs();
  return {
      {"scripts", scripts},
      {"services", bugs.ServiceCount()},
      {"bugs", bugs.BugCount()},
      {"rules", bugs.Rules().Values().size()},
      {"exceptions", bugs.Exceptions().Values().size()},
      {"built_on", bugs.BuiltOn()},
  };
}

int RunCheck(const CheckOptions& options) {
  const orv::ComPtr<orv::ITracer> tracer = MakeToolTracer(options.trace);
  orv::ComPtr<dnt::Bases> bases;
  try {
    bases = LoadBasesDirectory(options.directory, tracer);
  } catch (...) {
    std::cerr << LoadFailureText(tracer.Get()) << '\n';
    return 1;
  }
  // Script names are whatever bytes the scripts chose: show non-UTF-8 as U+FFFD.
  std::cout << DescribeBases(*bases).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  return 0;
}

}  // namespace

void AddCheckCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<CheckOptions>();
  CLI::App* command = app.add_subcommand(
      "check", "Load the bases of a directory (dnt0???.dat and dntbugs.dat) as the component would; print a JSON summary");
  command->add_option("DIR", options->directory, "the bases directory")->required();
  command->add_flag("--trace", options->trace, "write every trace line to standard error");
  command->callback([options, &exitCode] { exitCode = RunCheck(*options); });
}

}  // namespace dntbases
