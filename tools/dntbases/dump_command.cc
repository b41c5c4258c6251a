// dntbases dump: load a raw dntbugs.dat and print its model as JSON.
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "do_not_track/dnt_engine/bug_bases.h"
#include "orv/text/utf.h"
#include "tools/dntbases/bug_bases_file.h"
#include "tools/dntbases/commands.h"

namespace dntbases {

namespace {

struct DumpOptions {
  std::string file;
  bool trace = false;
};

nlohmann::json Services(const dnt::BugBases& bases) {
  nlohmann::json services = nlohmann::json::array();
  for (size_t i = 0; i < bases.ServiceCount(); ++i) {
    const dnt::ServiceInfo service = bases.Service(i);
    services.push_back(
        {{"index", i}, {"id", service.id}, {"category", service.category}, {"name", std::string(service.name)}});
  }
  return services;
}

nlohmann::json ExceptionLists(const std::vector<uint32_t>& table) {
  nlohmann::json lists = nlohmann::json::array();
  for (size_t position = 0; position < table.size();) {
    const size_t count = table[position];
    const size_t end = std::min(table.size(), position + 1 + count);
    lists.push_back(std::vector<uint32_t>(table.begin() + static_cast<std::ptrdiff_t>(position + 1),
                                          table.begin() + static_cast<std::ptrdiff_t>(end)));
    position = end;
  }
  return lists;
}

nlohmann::json Sites(const dnt::ExceptionalSites& sites) {
  try {
    std::vector<std::u16string> names;
    sites.Enumerate(names);
    nlohmann::json out = nlohmann::json::array();
    for (const std::u16string& name : names) out.push_back(orv::text::ToUtf8(name));
    return out;
  } catch (...) {
    return {{"error", CurrentErrorText()}};
  }
}

nlohmann::json Dump(const dnt::BugBases& bases) {
  nlohmann::json out;
  out["version"] = std::to_string(bases.Version() >> 16) + "." + std::to_string(bases.Version() & 0xFFFF);
  out["services"] = Services(bases);
  out["bugs"] = bases.Bugs();
  out["rules"] = bases.Rules().Values().size();
  out["exceptions"] = bases.Exceptions().Values().size();
  out["exception_lists"] = ExceptionLists(bases.Exceptions().ListTable());
  out["partner_sites"] = Sites(bases.PartnerSites());
  out["incompatible_sites"] = Sites(bases.IncompatibleSites());
  out["https_domains"] = bases.HttpsDomains()
                             ? nlohmann::json{{"loaded", bases.HttpsDomainsAdded()}, {"count", bases.HttpsDomainsCount()}}
                             : nlohmann::json(nullptr);
  out["built_on"] = bases.BuiltOn();
  return out;
}

int RunDump(const DumpOptions& options) {
  const orv::ComPtr<orv::ITracer> tracer = MakeToolTracer(options.trace);
  const std::unique_ptr<dnt::BugBases> bases = LoadBugBasesFile(options.file, tracer);
  PrintJson(Dump(*bases), 2);
  return 0;
}

}  // namespace

void AddDumpCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<DumpOptions>();
  CLI::App* command = app.add_subcommand("dump", "Load a bug database (dntbugs.dat, packed or raw, or a bases directory) and print it as JSON");
  command->add_option("FILE", options->file, "the bug database")->required();
  command->add_flag("--trace", options->trace, "write every trace line to standard error");
  command->callback([options, &exitCode] { exitCode = ExitStatusOf([&] { return RunDump(*options); }); });
}

}  // namespace dntbases
