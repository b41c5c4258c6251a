// dnt-proxy: a forward HTTP proxy that runs every request through the
// Do-Not-Track engine, so that a browser pointed at it is tracked less.
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#include "tools/dnt_proxy/admin_server.h"
#include "tools/dnt_proxy/bases_feed.h"
#include "tools/dnt_proxy/bases_updater.h"
#include "tools/dnt_proxy/bases_watch.h"
#include "tools/dnt_proxy/certificate_authority.h"
#include "tools/dnt_proxy/forwarding.h"
#include "tools/dnt_proxy/proxy_server.h"
#include "tools/module_host/engine_options.h"

namespace {

using namespace dnt_proxy;

struct ProxyCommand {
  std::string listen = "127.0.0.1:3128";
  std::vector<std::string> allowClients;
  std::vector<std::string> allowDestinations;
  std::vector<std::string> denyDestinations;
  std::vector<uint16_t> connectPorts;
  std::size_t maxClientsPerAddress = 0;
  std::vector<std::string> mapHosts;
  unsigned threads = 0;
  std::size_t maxClients = 4096;
  unsigned connectTimeout = 10;
  unsigned idleTimeout = 60;
  unsigned headTimeout = 10;
  unsigned sessionIdle = 60;
  std::size_t maxSessionsPerClient = 128;
  std::size_t maxSessions = 512;
  unsigned serverIdle = 30;
  std::size_t maxServerConnections = 4096;
  bool noEngine = false;
  bool watch = false;
  std::string log;
  std::string logFormat = "text";
  std::string intercept;
  std::string upstreamCa;
  std::size_t leafCache = 1000;
  std::string admin = "127.0.0.1:3129";
  std::string state;
  module_host::ModuleEngineOptions engine;
  module_host::SettingsOptions settings;
  BasesFeedOptions feed;
};

constexpr const char* AdminOff = "off";

// A number that must be positive, its default shown in the help.
template <typename Number>
void AddPositive(CLI::App& app, const std::string& name, Number& value, const std::string& description) {
  app.add_option(name, value, description)->capture_default_str()->check(CLI::PositiveNumber);
}

void AddOptions(CLI::App& app, ProxyCommand& command) {
  app.add_option("--listen", command.listen, "address and port to listen on")->capture_default_str();
  app.add_option("--allow-client", command.allowClients,
                 "also serve clients from this network, ADDR/BITS (repeatable; loopback clients are always served)");
  app.add_option("--allow-destination", command.allowDestinations,
                 "let clients from other hosts than this one reach this private network, ADDR/BITS (repeatable)");
  app.add_option("--deny-destination", command.denyDestinations,
                 "let no client reach this network, ADDR/BITS (repeatable)");
  app.add_option("--connect-port", command.connectPorts, "allow CONNECT to this port too, besides 443 (repeatable)")
      ->check(CLI::Range(1, 65535));
  app.add_option("--max-clients-per-address", command.maxClientsPerAddress,
                 "client connections one client address may hold at once (default: 256, or half of --max-clients "
                 "when that is less)")
      ->check(CLI::PositiveNumber);
  app.add_option("--map-host", command.mapHosts,
                 "testing aid: send servers whose name matches PATTERN (a name, *.SUFFIX or *) to ADDR:PORT "
                 "instead of looking them up: PATTERN=ADDR:PORT (repeatable)");
  app.add_option("--threads", command.threads, "serving threads (0: one per core)")->capture_default_str();
  AddPositive(app, "--max-clients", command.maxClients, "client connections served at once; more wait");
  AddPositive(app, "--connect-timeout", command.connectTimeout, "seconds to connect to a server (then 504)");
  AddPositive(app, "--idle-timeout", command.idleTimeout, "seconds a connection may stay silent");
  AddPositive(app, "--head-timeout", command.headTimeout,
              "seconds a client has to send a whole request head once begun (and its first, once connected)");
  AddPositive(app, "--session-idle", command.sessionIdle,
              "seconds an engine session (a client with a server) may stay unused before it ends");
  AddPositive(app, "--max-sessions-per-client", command.maxSessionsPerClient,
              "engine sessions one client address keeps; the least recently used ends beyond this");
  AddPositive(app, "--max-sessions", command.maxSessions,
              "engine sessions kept in all; the least recently used ends beyond this");
  AddPositive(app, "--server-idle", command.serverIdle,
              "seconds a connection to a server is kept for the next request to it");
  AddPositive(app, "--max-server-connections", command.maxServerConnections,
              "connections to servers kept open in all; beyond this, one is closed after its answer");
  app.add_flag("--no-engine", command.noEngine, "pass every request through untouched (for comparison)");
  app.add_flag("--watch", command.watch, "update the bases whenever the bases directory changes (as SIGHUP does)");
  app.add_option("--log", command.log, "append the access log to this file (default: standard output)");
  app.add_option("--log-format", command.logFormat, "text or json")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();
  app.add_option("--intercept", command.intercept,
                 "decrypt the HTTPS of the servers the engine asks to see, with the CA in this folder "
                 "(made by `dnt-proxy ca init`); other tunnels stay blind");
  app.add_option("--upstream-ca", command.upstreamCa,
                 "verify servers with the authorities in this PEM file only, not the system's (for tests)");
  app.add_option("--leaf-cache", command.leafCache, "certificates made for servers that are kept for reuse")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  app.add_option("--admin", command.admin,
                 "address and port of the dashboard (/), /api/stats and /metrics; \"off\" for none")
      ->capture_default_str();
  app.add_option("--state", command.state,
                 "the folder that keeps the sites paused from the dashboard, and the feed's bases (in bases/, "
                 "unless --update-state says otherwise) (default: ~/.local/state/dnt-proxy)");
  module_host::AddEngineOptions(app, command.engine, command.settings);
  AddBasesFeedOptions(app, command.feed);
}

// Empty when there is no home folder: pauses then last until the proxy
// stops.
std::string StateFolder(const std::string& given) {
  namespace fs = std::filesystem;
  if (!given.empty()) return given;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) return (fs::path(state) / "dnt-proxy").string();
  if (const char* home = std::getenv("HOME"); home && *home) return (fs::path(home) / ".local/state/dnt-proxy").string();
  return {};
}

std::unique_ptr<PausedSites> OpenPausedSites(const std::string& folder, AccessLog& log) {
  std::string problem;
  auto sites = std::make_unique<PausedSites>(folder, problem);
  const std::string file = sites->File().string();
  if (!problem.empty()) {
    log.Write("warning", "the paused sites in " + file + " are not used (" + problem + "): every site is protected",
              {{"state", file}, {"error", problem}});
  } else if (file.empty()) {
    log.Write("warning", "there is no home folder for the proxy's state: sites paused are protected again after a restart");
  }
  const auto paused = sites->Take().paused;
  if (!paused.empty()) {
    std::string list;
    for (const std::string& site : paused) list += (list.empty() ? "" : ", ") + site;
    log.Write("paused", "protection is paused on " + list + " (kept in " + file + ")", {{"sites", paused}, {"state", file}});
  }
  return sites;
}

std::optional<boost::asio::ip::tcp::endpoint> AdminEndpoint(const std::string& text) {
  if (text == AdminOff) return std::nullopt;
  const auto authority = ParseAuthority(text);
  boost::system::error_code error;
  const auto address = authority ? boost::asio::ip::make_address(authority->host, error) : boost::asio::ip::address();
  if (!authority || error) throw std::invalid_argument("--admin takes ADDR:PORT with an IP address, or off, not " + text);
  return boost::asio::ip::tcp::endpoint(address, authority->port);
}

ProxyConfig BuildConfig(const ProxyCommand& command) {
  ProxyConfig config;
  const auto listen = ParseAuthority(command.listen);
  boost::system::error_code error;
  const auto address = listen ? boost::asio::ip::make_address(listen->host, error) : boost::asio::ip::address();
  if (!listen || error) throw std::invalid_argument("--listen takes ADDR:PORT with an IP address, not " + command.listen);
  config.listen = boost::asio::ip::tcp::endpoint(address, listen->port);
  for (const std::string& network : command.allowClients) config.access.AllowClient(network);
  for (const std::string& network : command.allowDestinations) config.access.AllowDestination(network);
  for (const std::string& network : command.denyDestinations) config.access.DenyDestination(network);
  for (const uint16_t port : command.connectPorts) config.access.AllowConnectPort(port);
  config.access.SetHostAddresses(InterfaceAddresses());
  config.access.SetMaxClientsPerAddress(command.maxClientsPerAddress
                                            ? command.maxClientsPerAddress
                                            : std::clamp<std::size_t>(command.maxClients / 2, 1, 256));
  for (const std::string& rule : command.mapHosts) config.hostMap.Add(rule);
  config.threads = command.threads;
  config.maxClients = command.maxClients;
  config.connectTimeout = std::chrono::seconds(command.connectTimeout);
  config.idleTimeout = std::chrono::seconds(command.idleTimeout);
  config.headTimeout = std::chrono::seconds(command.headTimeout);
  config.sessionIdle = std::chrono::seconds(command.sessionIdle);
  config.maxSessionsPerClient = command.maxSessionsPerClient;
  config.maxSessions = command.maxSessions;
  config.serverIdle = std::chrono::seconds(command.serverIdle);
  config.maxServerConnections = command.maxServerConnections;
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

std::unique_ptr<module_host::ModuleEngine> StartEngine(const ProxyCommand& command, std::size_t& services,
                                                       const BasesFeed* feed) {
  module_host::ModuleEngineOptions options = command.engine;
  if (feed) options.baseFiles = feed->StartFiles();
  auto engine = std::make_unique<module_host::ModuleEngine>(options);
  const std::vector<module_host::TrackingService> known = engine->Services();
  services = known.size();
  engine->Start(module_host::BuildSettings(command.settings, known));
  return engine;
}

void LogAdmin(AccessLog& log, const AdminServer& admin) {
  const auto endpoint = admin.Endpoint();
  const std::string where = Authority{endpoint.address().to_string(), endpoint.port()}.Text();
  log.Write("admin", "dashboard on http://" + where + "/ (numbers at /api/stats and /metrics, paused sites at /api/paused)",
            {{"admin", where}});
  if (!endpoint.address().is_loopback()) {
    log.Write("warning", "the dashboard is served on " + where + ": anyone who reaches it sees the requests blocked",
              {{"admin", where}});
  }
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
  if (!command.intercept.empty() && !command.noEngine) {
    log.Write("intercept",
              "HTTPS to the servers the engine asks to see is decrypted with the CA in " + command.intercept +
                  "; other tunnels stay blind",
              {{"authority", command.intercept}});
  }
}

std::unique_ptr<Interception> StartInterception(const ProxyCommand& command) {
  if (command.intercept.empty()) return nullptr;
  return std::make_unique<Interception>(command.intercept, command.leafCache);
}

int Serve(const ProxyCommand& command) {
  const ProxyConfig config = BuildConfig(command);
  RaiseDescriptorLimit();
  std::signal(SIGPIPE, SIG_IGN);
  AccessLog log(command.log, command.logFormat == "json" ? LogFormat::Json : LogFormat::Text);
  const auto adminEndpoint = AdminEndpoint(command.admin);
  std::size_t services = 0;
  if (command.watch && !command.feed.url.empty()) {
    throw std::invalid_argument("--watch follows the --bases folder, --update-url a feed: give one of them");
  }
  const std::string state = StateFolder(command.state);
  BasesFeedOptions feedOptions = command.feed;
  if (feedOptions.state.empty() && !command.state.empty()) feedOptions.state = command.state + "/bases";
  std::optional<BasesFeed> feed;
  if (!command.feed.url.empty() && !command.noEngine) feed.emplace(feedOptions, command.upstreamCa, log);
  const auto engine = command.noEngine ? nullptr : StartEngine(command, services, feed ? &*feed : nullptr);
  ProxyStats stats(engine != nullptr);
  if (engine) stats.BasesLoaded(engine->BasesBuiltOn(), false);
  UpstreamTls upstreamTls(command.upstreamCa);
  // Without the engine nothing asks to see inside a tunnel.
  const auto interception = engine ? StartInterception(command) : nullptr;
  std::optional<BasesUpdater> updater;
  // The feed's checks use the engine: they end before the engine goes.
  struct StopFeed {
    std::optional<BasesFeed>& feed;
    ~StopFeed() {
      if (feed) feed->Stop();
    }
  } stopFeed{feed};
  if (engine && !feed) updater.emplace(*engine, log, stats, command.engine.basesDirectory);
  const auto sites = engine ? OpenPausedSites(state, log) : nullptr;
  ProxyServer server({config, engine.get(), log, stats, upstreamTls, interception.get(), {}, nullptr, {}, sites.get()},
                     [&updater, &feed] {
    if (feed) feed->Request();
    if (updater) updater->Request();
  });
  std::shared_ptr<AdminServer> admin;
  if (adminEndpoint) {
    try {
      const auto snapshot = [&stats, &interception, &feed, &sites] {
        StatsSnapshot snapshot = stats.Take();
        if (interception) snapshot.leaves = interception->Leaves();
        if (feed) snapshot.feed = feed->Status();
        if (sites) snapshot.sites = sites->Take();
        return snapshot;
      };
      admin = std::make_shared<AdminServer>(server.Io(), *adminEndpoint, snapshot, sites.get(), log);
    } catch (const boost::system::system_error& e) {
      throw std::runtime_error("cannot serve the dashboard on " + command.admin + " (" + e.code().message() +
                               "): give another --admin ADDR:PORT, or --admin off");
    }
    admin->Start();
  }
  std::optional<BasesWatch> watch;
  if (command.watch && updater) watch.emplace(server.Io(), command.engine.basesDirectory, [&updater] { updater->Request(); });
  LogStart(log, server, command, services);
  if (admin) LogAdmin(log, *admin);
  if (feed) feed->Start(*engine, stats);
  server.Run();
  if (admin) admin->Stop();
  return 0;
}

int InitAuthority(const std::string& directory) {
  const auto certificate = CertificateAuthority::Create(directory);
  std::cout << "dnt-proxy: a new certificate authority is in " << directory << ": its key (" << CertificateAuthority::KeyFile
            << ", readable by you only) never leaves that file.\n"
            << "Trust " << certificate.string()
            << " in the browser that uses the proxy (Firefox: Settings, Certificates, Authorities, Import; Chromium "
               "on Linux: certutil -d sql:$HOME/.pki/nssdb -A -t C,, -n dnt-proxy -i "
            << certificate.string() << "), then run dnt-proxy --intercept " << directory << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "dnt-proxy: a forward HTTP proxy that runs every request through the Do-Not-Track engine. Point a browser's "
      "HTTP and HTTPS proxy at it; HTTPS is tunnelled unseen unless --intercept decrypts what the engine asks to "
      "see. Its dashboard is at the --admin address."};
  ProxyCommand command;
  AddOptions(app, command);
  CLI::App* authority = app.add_subcommand("ca", "the local certificate authority of --intercept");
  CLI::App* init = authority->add_subcommand(
      "init", "make a new certificate authority (ECDSA P-256, ten years) in DIR; never overwrites one");
  std::string authorityDirectory;
  init->add_option("DIR", authorityDirectory, "the folder for ca.crt and ca.key")->required();
  authority->require_subcommand(1);
  CLI11_PARSE(app, argc, argv);
  try {
    if (*init) return InitAuthority(authorityDirectory);
    return Serve(command);
  } catch (const std::exception& e) {
    std::cerr << "dnt-proxy: " << e.what() << '\n';
  }
  return 1;
}
