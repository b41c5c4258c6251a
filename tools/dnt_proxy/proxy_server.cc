#include "tools/dnt_proxy/proxy_server.h"

#include <boost/asio/executor_work_guard.hpp>
#include <csignal>
#include <thread>
#include <vector>

namespace dnt_proxy {

namespace {

// How often idle sessions are looked for: a small part of the idle time.
constexpr auto SweepEvery = std::chrono::milliseconds(250);

std::vector<std::unique_ptr<boost::asio::io_context>> MakeContexts(unsigned threads) {
  std::vector<std::unique_ptr<boost::asio::io_context>> contexts;
  const unsigned count = threads ? threads : std::max(1u, std::thread::hardware_concurrency());
  // Each runs on one thread only, which lets Asio spare its own locking.
  for (unsigned i = 0; i < count; ++i) contexts.push_back(std::make_unique<boost::asio::io_context>(1));
  return contexts;
}

}  // namespace

ProxyServer::ProxyServer(ProxyContext context, std::function<void()> basesUpdate)
    : m_context(std::move(context)),
      m_contexts(MakeContexts(m_context.config.threads)),
      m_signals(*m_contexts.front(), SIGINT, SIGTERM, SIGHUP),
      m_sweep(*m_contexts.front()),
      m_basesUpdate(std::move(basesUpdate)) {
  if (m_context.engine) {
    m_sessions.emplace(m_context, SessionLimits{m_context.config.sessionIdle, m_context.config.maxSessionsPerClient,
                                                m_context.config.maxSessions});
    m_context.sessions = &*m_sessions;
  }
  std::vector<boost::asio::io_context*> contexts;
  for (const auto& context : m_contexts) contexts.push_back(context.get());
  m_listener = std::make_shared<Listener>(contexts, m_context);
  m_context.self = m_listener->Endpoint();
  m_context.connectionClosed = [listener = std::weak_ptr<Listener>(m_listener)](const boost::asio::ip::address& client) {
    if (const auto alive = listener.lock()) alive->ConnectionClosed(client);
  };
}

ProxyServer::~ProxyServer() { m_listener->Stop(); }

void ProxyServer::Run() {
  m_listener->Start();
  AwaitSignal();
  if (m_sessions) SweepSessions();
  std::vector<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> busy;
  for (const auto& context : m_contexts) busy.push_back(boost::asio::make_work_guard(*context));
  std::vector<std::thread> pool;
  for (std::size_t i = 1; i < m_contexts.size(); ++i) pool.emplace_back([&context = *m_contexts[i]] { context.run(); });
  m_contexts.front()->run();
  for (auto& thread : pool) thread.join();
}

void ProxyServer::SweepSessions() {
  m_sweep.expires_after(SweepEvery);
  m_sweep.async_wait([this](boost::system::error_code error) {
    if (error) return;
    m_sessions->EndIdle(std::chrono::steady_clock::now());
    SweepSessions();
  });
}

void ProxyServer::AwaitSignal() {
  m_signals.async_wait([this](boost::system::error_code error, int signal) {
    if (error) return;
    if (signal == SIGHUP) {
      if (m_basesUpdate) m_basesUpdate();
      return AwaitSignal();
    }
    m_listener->Stop();
    m_sweep.cancel();
    for (const auto& context : m_contexts) context->stop();
  });
}

}  // namespace dnt_proxy
