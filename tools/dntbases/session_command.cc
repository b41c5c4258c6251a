// dntbases session: one HTTP session on a bases directory, run through the
// session processor as a host runs it; per request what the scripts changed,
// then the session's verdict, as JSON Lines.
#include <fstream>
#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "host/counting_allocator.h"
#include "host/http_changes.h"
#include "host/service_locator.h"
#include "orv/text/utf.h"
#include "source/sessions/processor_factory.h"
#include "tools/dntbases/bases_directory.h"
#include "tools/dntbases/bug_bases_file.h"
#include "tools/dntbases/commands.h"
#include "tools/dntbases/request_call.h"
#include "tools/dntbases/session_requests.h"
#include "tools/dntbases/settings_option.h"

namespace dntbases {
namespace {

using nlohmann::json;

struct SessionOptions {
  std::string directory;
  std::vector<std::string> settings;
  std::string requestsFile;
  std::string domain;
  bool sessionFlag = false;
  bool trace = false;
  std::vector<SessionRequest> requests;  // from the command line, in order
};

SessionRequest& LastRequest(SessionOptions& options, const char* option) {
  if (options.requests.empty()) throw CLI::ValidationError(option, "comes after the --request it belongs to");
  return options.requests.back();
}

// Option callbacks run inside the parser, which only reports its own errors.
template <class Work>
auto AsOptionError(const char* option, Work work) {
  return [option, work](const std::string& text) {
    try {
      work(text);
    } catch (const std::invalid_argument& e) {
      throw CLI::ValidationError(option, e.what());
    }
  };
}

std::string ResultText(orv::result_t code) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08x", code);
  return code == 0 ? "ok" : text;
}

json RunRequest(dnt::IHttpSessionProcessor& processor, const SessionRequest& given, std::size_t number) {
  auto message = std::make_shared<host::HttpMessage>(given.request);
  const auto header = host::MakeRequestHeader(message);
  const auto controller = host::MakeController(message);
  const dnt::RequestParams params{header.Get()};
  bool responseRequired = false;
  const orv::result_t code = processor.ProcessRequest(&params, controller.Get(), &responseRequired);
  json out = {{"request", number},
              {"method", given.request.Line().method},
              {"url", given.request.Line().url},
              {"result", ResultText(code)},
              {"response_processing_required", responseRequired},
              {"changes", host::DescribeChanges(given.request, *message)}};
  if (given.response && responseRequired) {
    const host::HttpMessage before(dnt::HttpRequestLine{}, *given.response);
    auto response = std::make_shared<host::HttpMessage>(before);
    const auto responseHeader = host::MakeResponseHeader(response);
    const auto responseController = host::MakeController(response);
    const dnt::ResponseParams responseParams{responseHeader.Get()};
    const orv::result_t responseCode = processor.ProcessResponse(&responseParams, responseController.Get());
    out["response"] = {{"result", ResultText(responseCode)}, {"changes", host::DescribeChanges(before, *response)}};
  }
  return out;
}

json VerdictJson(dnt::IHttpSessionProcessor& processor) {
  dnt::TrackingVerdict verdict;
  const orv::result_t code = processor.GetVerdict(&verdict);
  json service = nullptr;
  if (!verdict.serviceName.empty() || verdict.serviceId != 0) {
    service = {{"id", verdict.serviceId},
               {"name", orv::text::ToUtf8(verdict.serviceName)},
               {"category", verdict.serviceCategory}};
  }
  return {{"verdict", {{"result", ResultText(code)},
                       {"code", verdict.verdict},
                       {"name", dnt::VerdictName(verdict.verdict) ? dnt::VerdictName(verdict.verdict) : "unknown"},
                       {"service", service}}}};
}

int RunSession(SessionOptions& options) {
  if (!options.requestsFile.empty()) {
    std::ifstream in(options.requestsFile);
    if (!in) throw std::runtime_error("cannot read " + options.requestsFile);
    for (SessionRequest& request : ReadSessionRequests(in)) options.requests.push_back(std::move(request));
  }
  if (options.requests.empty()) throw std::invalid_argument("no requests: give --request or --requests");

  const orv::ComPtr<orv::ITracer> tracer = MakeToolTracer(options.trace);
  const dnt::ServiceSettings settings = MakeSettings(options.settings);
  orv::ComPtr<dnt::BasesSlot> slot(new dnt::BasesSlot());
  try {
    slot->Set(LoadBasesDirectory(options.directory, tracer).Get());
  } catch (...) {
    std::cerr << LoadFailureText(tracer.Get()) << '\n';
    return 1;
  }
  const auto locator = host::MakeHostObject<host::ServiceLocator>();
  locator->Register(orv::ComPtr<orv::IAllocator>(host::MakeHostObject<host::CountingAllocator>()));
  locator->Register(tracer);
  const auto factory = dnt::rtl::MakeComponent<dnt::ProcessorFactory>(locator.Get(), settings, slot);

  const dnt::SessionParams params{options.domain.empty() ? DomainOf(options.requests.front().request) : options.domain,
                                  options.sessionFlag};
  orv::ComPtr<dnt::IHttpSessionProcessor> processor;
  const orv::result_t created = factory->CreateHttpSessionProcessor(&params, processor.Put());
  if (orv::Failed(created)) throw std::runtime_error("the session could not be created: " + ResultText(created));
  for (std::size_t i = 0; i < options.requests.size(); ++i) {
    PrintJson(RunRequest(*processor, options.requests[i], i + 1));
  }
  PrintJson(VerdictJson(*processor));
  return 0;
}

}  // namespace

void AddSessionCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<SessionOptions>();
  CLI::App* command = app.add_subcommand(
      "session", "Run one HTTP session on the bases of a directory as a host would: each request (and its "
                 "response, when the request script asks for it) through the base scripts, then the verdict. "
                 "Prints one JSON object per request, then the verdict");
  command->add_option("DIR", options->directory, "the bases directory")->required();
  command->add_option_function<std::string>(
             "--request",
             AsOptionError("--request",
                           [options](const std::string& line) {
                             options->requests.push_back(
                                 {host::HttpMessage(host::ParseRequestLine(line), {}), std::nullopt});
                           }),
             "a request line ('GET http://a.test/x HTTP/1.1'); the --header and --response-header options that "
             "follow belong to it")
      ->trigger_on_parse();
  command->add_option_function<std::string>(
             "--header",
             AsOptionError("--header",
                           [options](const std::string& text) {
                             SessionRequest& last = LastRequest(*options, "--header");
                             std::vector<host::HttpField> fields = last.request.Fields();
                             fields.push_back(host::ParseHeaderField(text));
                             last.request = host::HttpMessage(last.request.Line(), std::move(fields));
                           }),
             "a field of the last request, as 'Name: value'")
      ->trigger_on_parse();
  command->add_option_function<std::string>(
             "--response-header",
             AsOptionError("--response-header",
                           [options](const std::string& text) {
                             SessionRequest& last = LastRequest(*options, "--response-header");
                             if (!last.response) last.response.emplace();
                             last.response->push_back(host::ParseHeaderField(text));
                           }),
             "a field of the last request's response, as 'Name: value' (the response is processed when the "
             "request script asks for it)")
      ->trigger_on_parse();
  command->add_option("--requests", options->requestsFile,
                      "JSON Lines of requests, after the command line's: {\"method\", \"url\", \"headers\", "
                      "\"response\": {\"headers\"}}");
  command->add_option("--domain", options->domain, "the session's domain (default: the first request's host)");
  command->add_flag("--session-flag", options->sessionFlag, "open the session with the session flag set");
  AddSettingOption(*command, options->settings);
  command->add_flag("--trace", options->trace, "write every trace line to standard error");
  command->callback([options, &exitCode] { exitCode = ExitStatusOf([&] { return RunSession(*options); }); });
}

}  // namespace dntbases
