// dnt-proxy: a forward HTTP proxy that runs every request through the
// Do-Not-Track engine, so that a browser pointed at it is tracked less.
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>
#include <memory>
#include <optional>

#include "tools/dnt_proxy/bases_updater.h"
#include "tools/dnt_proxy/bases_watch.h"
#include "tools/dnt_proxy/forwarding.h"
#include "tools/dnt_proxy/proxy_server.h"
#include "tools/module_host/engine_options.h"

namespace {

using namespace dnt_proxy;

struct ProxyCommand {
  std::string listen = "127.0.0.1:3128";
  std::vector<std::string> allowClients;
  std::vector<std::string> mapHosts;
  unsigned threads = 0;
  std::size_t maxClients = 4096;
  unsigned connectTimeout = 10;
  unsigned idleTimeout = 60;
  bool noEngine = false;
  bool watch = false;
  std::string log;
  std::string logFormat = "text";
  module_host::ModuleEngineOptions engine;
  module_host::SettingsOptions settings;
};

void AddOptions(CLI::App& app, ProxyCommand& command) {
  app.add_option("--listen", command.listen, "address and port to listen on")->capture_default_str();
  app.add_option("--allow-client", command.allowClients,
                 "also serve clients from this network, ADDR/BITS (repeatable; loopback clients are always served)");
  app.add_option("--map-host", command.mapHosts,
                 "testing aid: send servers whose name matches PATTERN (a name, *.SUFFIX or *) to ADDR:PORT "
                 "instead of looking them up: PATTERN=ADDR:PORT (repeatable)");
  app.add_option("--threads", command.threads, "serving threads (0: one per core)")->capture_default_str();
  app.add_option("--max-clients", command.maxClients, "client connections served at once; more wait")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  app.add_option("--connect-timeout", command.connectTimeout, "seconds to connect to a server (then 504)")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  app.add_option("--idle-timeout", command.idleTimeout, "seconds a connection may stay silent")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  app.add_flag("--no-engine", command.noEngine, "pass every request through untouched (for comparison)");
  app.add_flag("--watch", command.watch, "update the bases whenever the bases directory changes (as SIGHUP does)");
  app.add_option("--log", command.log, "append the access log to this file (default: standard output)");
  app.add_option("--log-format", command.logFormat, "text or json")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();
  module_host::AddEngineOptions(app, command.engine, command.settings);
}

ProxyConfig BuildConfig(const ProxyCommand& command) {
  ProxyConfig config;
  const auto listen = ParseAuthority(command.listen);
  boost::system::error_code error;
  const auto address = listen ? boost::asio::ip::make_address(listen->host, error) : boost::asio::ip::address();
  if (!listen || error) throw std::invalid_argument("--listen takes ADDR:PORT with an IP address, not " + command.listen);
  config.listen = boost::asio::ip::tcp::endpoint(address, listen->port);
  for (const std::string& network : command.allowClients) config.clients.Allow(network);
  for (const std::string& rule : command.mapHosts) config.hostMap.Add(rule);
  config.threads = command.threads;
  config.maxClients = command.maxClients;
  config.connectTimeout = std::chrono::seconds(command.connectTimeout);
  config.idleTimeout = std::chrono::seconds(command.idleTimeout);
  return config;
}

// Every client connection may have a connection to each of its servers
// open: the default limit of descriptors is far too low for that.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

std::unique_ptr<module_host::ModuleEngine> StartEngine(const ProxyCommand& command, std::size_t& services) {
  auto engine = std::make_unique<module_host::ModuleEngine>(command.engine);
  const std::vector<module_host::TrackingService> known = engine->Services();
  services = known.size();
  engine->Start(module_host::BuildSettings(command.settings, known));
  return engine;
}

void LogStart(AccessLog& log, const ProxyServer& server, const ProxyCommand& command, std::size_t services) {
  const std::string listen = Authority{server.Endpoint().address().to_string(), server.Endpoint().port()}.Text();
  if (command.noEngine) {
    log.Write("start", "dnt-proxy listening on " + listen + " without the engine: requests pass untouched",
              {{"listen", listen}, {"engine", false}});
  } else {
    log.Write("start",
              "dnt-proxy listening on " + listen + ", serving the bases in " + command.engine.basesDirectory + " (" +
                  std::to_string(services) + " tracking services)",
              {{"listen", listen}, {"engine", true}, {"bases", command.engine.basesDirectory}, {"services", services}});
  }
  for (const std::string& network : command.allowClients) {
    log.Write("warning", "clients from " + network + " are served: anyone there can use this proxy",
              {{"allowClient", network}});
  }
}

int Serve(const ProxyCommand& command) {
  const ProxyConfig config = BuildConfig(command);
  RaiseDescriptorLimit();
  std::signal(SIGPIPE, SIG_IGN);
  AccessLog log(command.log, command.logFormat == "json" ? LogFormat::Json : LogFormat::Text);
  std::size_t services = 0;
  const auto engine = command.noEngine ? nullptr : StartEngine(command, services);
  std::optional<BasesUpdater> updater;
  if (engine) updater.emplace(*engine, log, command.engine.basesDirectory);
  ProxyServer server(config, engine.get(), log, [&updater] {
    if (updater) updater->Request();
  });
  std::optional<BasesWatch> watch;
  if (command.watch && updater) watch.emplace(server.Io(), command.engine.basesDirectory, [&updater] { updater->Request(); });
  LogStart(log, server, command, services);
  server.Run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "dnt-proxy: a forward HTTP proxy that runs every request through the Do-Not-Track engine. Point a browser's "
      "HTTP and HTTPS proxy at it; HTTPS is tunnelled unseen."};
  ProxyCommand command;
  AddOptions(app, command);
  CLI11_PARSE(app, argc, argv);
  try {
    return Serve(command);
  } catch (const std::exception& e) {
    std::cerr << "dnt-proxy: " << e.what() << '\n';
  }
  return 1;
}
