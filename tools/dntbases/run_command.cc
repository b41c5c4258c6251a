// dntbases run: call one script entry of a bases directory in a session host
// and print its results, for script authors trying their scripts.
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "do_not_track/dnt_engine/script_host.h"
#include "do_not_track/dnt_engine/service_settings_validation.h"
#include "tools/dntbases/bases_directory.h"
#include "tools/dntbases/bug_bases_file.h"
#include "tools/dntbases/commands.h"
#include "tools/dntbases/request_call.h"

namespace dntbases {
namespace {

struct RunOptions {
  std::string directory;
  std::string entry;
  std::vector<std::string> settings;
  bool trace = false;
  RequestOptions request;
};

bool ParseFlag(const std::string& name, const std::string& value) {
  if (value == "1" || value == "true") return true;
  if (value == "0" || value == "false") return false;
  throw std::invalid_argument("setting " + name + " takes 0, 1, true or false, not [" + value + "]");
}

uint32_t ParseNumber(const std::string& name, const std::string& text) {
  std::size_t used = 0;
  unsigned long value = 0;
  try {
    value = std::stoul(text, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || text.empty() || value > UINT32_MAX || text[0] == '-')
    throw std::invalid_argument("setting " + name + ": [" + text + "] is not an unsigned 32-bit number");
  return static_cast<uint32_t>(value);
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    const std::size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

void ApplySetting(dnt::ServiceSettings& settings, const std::string& assignment) {
  const std::size_t equals = assignment.find('=');
  if (equals == std::string::npos) throw std::invalid_argument("a setting is name=value, not [" + assignment + "]");
  const std::string name = assignment.substr(0, equals);
  const std::string value = assignment.substr(equals + 1);
  if (name == "excludePartnerSites") {
    settings.excludePartnerSites = ParseFlag(name, value);
  } else if (name == "excludeIncompatibleSites") {
    settings.excludeIncompatibleSites = ParseFlag(name, value);
  } else if (name == "addTrackingNoise") {
    settings.addTrackingNoise = ParseFlag(name, value);
  } else if (name == "addDntHttpHeader") {
    settings.addDntHttpHeader = ParseFlag(name, value);
  } else if (name == "enableVerboseTrace") {
    settings.enableVerboseTrace = ParseFlag(name, value);
  } else if (name == "blockTrackingServiceCategories") {
    settings.blockTrackingServiceCategories.clear();
    for (const std::string& item : SplitList(value)) settings.blockTrackingServiceCategories.push_back(ParseNumber(name, item));
  } else if (name == "trackingServicesSettings") {
    settings.trackingServicesSettings.clear();
    for (const std::string& item : SplitList(value)) {
      const std::size_t colon = item.find(':');
      if (colon == std::string::npos) throw std::invalid_argument("setting " + name + " takes id:value pairs");
      settings.trackingServicesSettings.push_back(
          {ParseNumber(name, item.substr(0, colon)), ParseNumber(name, item.substr(colon + 1))});
    }
  } else {
    throw std::invalid_argument("unknown setting [" + name + "]");
  }
}

/// The settings a host gives unless told otherwise.
dnt::ServiceSettings MakeSettings(const std::vector<std::string>& assignments) {
  dnt::ServiceSettings settings = dnt::ServiceSettings::Defaults();
  for (const std::string& assignment : assignments) ApplySetting(settings, assignment);
  return dnt::CopyValidatedServiceSettings(settings);
}

int RunEntry(const RunOptions& options) {
  const orv::ComPtr<orv::ITracer> tracer = MakeToolTracer(options.trace);
  std::unique_ptr<dnt::BasesEngineContext> context;
  try {
    const dnt::ServiceSettings settings = MakeSettings(options.settings);
    context = std::make_unique<dnt::BasesEngineContext>(LoadBasesDirectory(options.directory, tracer), settings);
  } catch (...) {
    std::cerr << LoadFailureText(tracer.Get()) << '\n';
    return 1;
  }
  std::vector<std::string> results;
  std::vector<std::string> changes;
  try {
    dnt::ScriptHost host(tracer, context.get(), context->GetSettings(), dnt::ScriptStage::Session);
    if (options.request.requestLine.empty()) {
      dnt::ToStringCall call;
      host.Call(options.entry, call);
      results = std::move(call.results);
    } else {
      RequestCall call(host.State(), options.request, context->GetSettings());
      host.Call(options.entry, call);
      results = call.Results();
      changes = call.Changes();
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
    return 1;
  }
  for (const std::string& line : results) std::cout << line << '\n';
  for (const std::string& line : changes) std::cout << line << '\n';
  return 0;
}

}  // namespace

void AddRunCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<RunOptions>();
  CLI::App* command = app.add_subcommand(
      "run", "Load the bases of a directory, call one script entry with no arguments (or a request, see "
             "--request) in a session host and print each result on its own line");
  command->add_option("DIR", options->directory, "the bases directory")->required();
  command->add_option("ENTRY", options->entry, "the script entry to call (a registered script name)")->required();
  command->add_option("--setting", options->settings,
                      "a service setting as name=value: excludePartnerSites, excludeIncompatibleSites, "
                      "addTrackingNoise, addDntHttpHeader, enableVerboseTrace (0/1), "
                      "blockTrackingServiceCategories (1,4), trackingServicesSettings (id:value,...)");
  command->add_flag("--trace", options->trace, "write every trace line to standard error");
  CLI::Option* request = command->add_option(
      "--request", options->request.requestLine,
      "call ENTRY as RequestProcessor is called, on this request line ('GET http://a.test/x HTTP/1.1'), and "
      "print after the results what the script changed");
  command->add_option("--header", options->request.headers, "a request header field as 'Name: value'")
      ->needs(request);
  command->add_flag("--session-flag", options->request.sessionFlag, "the session flag given to the entry")
      ->needs(request);
  command->add_option("--domain", options->request.domain, "the session domain (default: the request's host)")
      ->needs(request);
  command->callback([options, &exitCode] { exitCode = RunEntry(*options); });
}

}  // namespace dntbases
