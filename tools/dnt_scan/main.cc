// dnt-scan: runs recorded browser traffic through the Do-Not-Track engine,
// as a host that intercepts HTTP would, and reports what the engine did.

#include <CLI/CLI.hpp>
#include <chrono>
#include <fstream>
#include <iostream>

#include "orv/system/process.h"
#include "tools/dnt_scan/progress_line.h"
#include "tools/dnt_scan/report_writers.h"
#include "tools/dnt_scan/scanner.h"
#include "tools/dnt_scan/traffic_input.h"
#include "tools/module_host/engine_options.h"

namespace {

using namespace dnt_scan;
using namespace module_host;
using Clock = std::chrono::steady_clock;

struct ScanCommand {
  std::string input;
  std::string formatName = "auto";
  ModuleEngineOptions engine;
  SettingsOptions settings;
  bool allSessions = false;
  bool allRequests = false;
  bool json = false;
  std::string html;
  bool stats = false;
};

TrafficFormat FormatNamed(const std::string& name) {
  return name == "har" ? TrafficFormat::Har : name == "jsonl" ? TrafficFormat::JsonLines : TrafficFormat::Auto;
}

double Milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

double PeakRssMegabytes() { return static_cast<double>(orv::system::PeakResidentBytes()) / (1024.0 * 1024.0); }

void WriteStats(Clock::time_point start, Clock::time_point loaded, Clock::time_point scanned, size_t requests) {
  const double scan = Milliseconds(scanned - loaded);
  const nlohmann::json stats = {{"load_ms", Milliseconds(loaded - start)},
                                {"scan_ms", scan},
                                {"total_ms", Milliseconds(scanned - start)},
                                {"requests", requests},
                                {"per_request_us", requests ? scan * 1000 / requests : 0.0},
                                {"peak_rss_mb", PeakRssMegabytes()}};
  std::cerr << stats.dump() << '\n';
}

void WriteHtml(const ScanReport& report, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  WriteHtmlReport(report, out);
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

int Scan(const ScanCommand& command) {
  const auto file = OpenInputFile(command.input);
  const auto start = Clock::now();
  ModuleEngine engine(command.engine);
  const std::vector<TrackingService> services =
      NamesServices(command.settings) ? engine.Services() : std::vector<TrackingService>();
  engine.Start(BuildSettings(command.settings, services));
  const auto loaded = Clock::now();

  Scanner scanner(engine, command.input, {command.allSessions});
  ProgressLine progress(stderr, InputSize(command.input));
  ChunkedInput input(file.get(), [&](uint64_t bytes) { progress.Update(bytes, scanner.RequestCount()); });
  const TrafficFormat format = ReadTraffic(input, command.input, FormatNamed(command.formatName), scanner);
  ScanReport report = scanner.Finish();
  report.entryName = format == TrafficFormat::JsonLines ? "line" : "entry";
  progress.Clear();
  const auto scanned = Clock::now();

  if (command.json) {
    std::cout << ReportJson(report).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else {
    WriteTextReport(report, command.allRequests, std::cout);
  }
  if (!command.html.empty()) WriteHtml(report, command.html);
  if (command.stats) WriteStats(start, loaded, scanned, report.requests.size());
  return 0;
}

void AddOptions(CLI::App& app, ScanCommand& command) {
  app.add_option("INPUT", command.input, "HAR 1.2 file, or JSON Lines of requests; - reads standard input")->required();
  app.add_option("--format", command.formatName, "input format: auto (by the file's extension and first line), har, jsonl")
      ->check(CLI::IsMember({"auto", "har", "jsonl"}))
      ->capture_default_str();
  AddEngineOptions(app, command.engine, command.settings);
  app.add_flag("--all-sessions", command.allSessions,
               "hand every HTTPS session to the engine, not only those to domains the bases ask for");
  app.add_flag("--all-requests", command.allRequests,
               "list every request in the text report, not only those the engine blocked, modified or failed on");
  app.add_flag("--json", command.json, "print the report as JSON instead of text");
  app.add_option("--html", command.html, "also write the report as a self-contained HTML page to this file");
  app.add_flag("--stats", command.stats, "print load and scan times and the peak memory to standard error as JSON");
}

}  // namespace

int main(int argc, char** argv) {
  orv::system::UseBinaryStandardStreams();
  CLI::App app{
      "dnt-scan: run recorded browser traffic through the Do-Not-Track engine, one HTTP session per server host "
      "per page, and report the sessions' verdicts and what the engine did to each request"};
  app.allow_windows_style_options(false);  // paths such as /tmp/x are arguments
  ScanCommand command;
  AddOptions(app, command);
  CLI11_PARSE(app, argc, argv);
  try {
    return Scan(command);
  } catch (const InputError& e) {
    std::cerr << "dnt-scan: " << command.input << ": " << e.what() << '\n';
  } catch (const std::exception& e) {
    std::cerr << "dnt-scan: " << e.what() << '\n';
  }
  return 1;
}
