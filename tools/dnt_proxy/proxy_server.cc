#include "tools/dnt_proxy/proxy_server.h"

#include <csignal>
#include <thread>
#include <vector>

namespace dnt_proxy {

ProxyServer::ProxyServer(const ProxyConfig& config, module_host::Engine* engine, AccessLog& log,
                         std::function<void()> basesUpdate)
    : m_context{config, engine, log, {}, {}},
      m_signals(m_io, SIGINT, SIGTERM, SIGHUP),
      m_basesUpdate(std::move(basesUpdate)) {
  m_listener = std::make_shared<Listener>(m_io, m_context);
  m_context.self = m_listener->Endpoint();
  m_context.connectionClosed = [listener = std::weak_ptr<Listener>(m_listener)] {
    if (const auto alive = listener.lock()) alive->ConnectionClosed();
  };
}

ProxyServer::~ProxyServer() { m_listener->Stop(); }

void ProxyServer::Run() {
  m_listener->Start();
  AwaitSignal();
  const unsigned threads = m_context.config.threads ? m_context.config.threads : std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> pool;
  for (unsigned i = 1; i < threads; ++i) pool.emplace_back([this] { m_io.run(); });
  m_io.run();
  for (auto& thread : pool) thread.join();
}

void ProxyServer::AwaitSignal() {
  m_signals.async_wait([this](boost::system::error_code error, int signal) {
    if (error) return;
    if (signal == SIGHUP) {
      if (m_basesUpdate) m_basesUpdate();
      return AwaitSignal();
    }
    m_listener->Stop();
    m_io.stop();
  });
}

}  // namespace dnt_proxy
