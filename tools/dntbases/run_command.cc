// dntbases run: call one script entry of a bases directory in a session host
// and print its results, for script authors trying their scripts.
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "do_not_track/dnt_engine/script_host.h"
#include "tools/dntbases/bases_directory.h"
#include "tools/dntbases/bug_bases_file.h"
#include "tools/dntbases/commands.h"
#include "tools/dntbases/request_call.h"
#include "tools/dntbases/settings_option.h"

namespace dntbases {
namespace {

struct RunOptions {
  std::string directory;
  std::string entry;
  std::vector<std::string> settings;
  bool trace = false;
  RequestOptions request;
};

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
  AddSettingOption(*command, options->settings);
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
