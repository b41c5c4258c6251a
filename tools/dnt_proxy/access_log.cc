#include "tools/dnt_proxy/access_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "tools/dnt_proxy/wire_check.h"

namespace dnt_proxy {
namespace {

constexpr auto FlushEvery = std::chrono::milliseconds(200);

std::string Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  // The date and time change once a second, while lines come by thousands.
  thread_local std::time_t cachedSecond = -1;
  thread_local std::string cached;
  if (seconds != cachedSecond) {
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    cached.assign(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc));
    cachedSecond = seconds;
  }
  std::string text;
  text.reserve(cached.size() + 5);
  text.append(cached).append({'.', static_cast<char>('0' + millis / 100), static_cast<char>('0' + millis / 10 % 10),
                              static_cast<char>('0' + millis % 10), 'Z'});
  return text;
}

}  // namespace

AccessLog::AccessLog(const std::string& path, LogFormat format)
    : m_out(path.empty() ? stdout : std::fopen(path.c_str(), "a")), m_owned(!path.empty()), m_format(format) {
  if (!m_out) throw std::runtime_error("cannot open the log " + path + ": " + std::strerror(errno));
  m_flusher = std::thread([this] { FlushPeriodically(); });
}

AccessLog::~AccessLog() {
  {
    std::lock_guard guard(m_lock);
    m_stopping = true;
  }
  m_wake.notify_one();
  m_flusher.join();
  std::fflush(m_out);
  if (m_owned) std::fclose(m_out);
}

void AccessLog::FlushPeriodically() {
  std::unique_lock lock(m_lock);
  while (!m_stopping) {
    m_wake.wait_for(lock, FlushEvery, [this] { return m_stopping; });
    if (m_pending) std::fflush(m_out);
    m_pending = false;
  }
}

void AccessLog::Write(std::string_view event, std::string_view text, nlohmann::json fields) {
  std::string line;
  if (m_format == LogFormat::Json) {
    nlohmann::json record = {{"time", Now()}, {"event", event}};
    record.update(fields);
    line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  } else {
    line = Now();
    // Names, URLs and engine texts come from clients, servers and scripts:
    // escaped, none of them can end the line or forge another.
    line.append(" ").append(LogText(event)).append(" ").append(LogText(text));
  }
  line += '\n';
  std::lock_guard guard(m_lock);
  std::fwrite(line.data(), 1, line.size(), m_out);
  m_pending = true;
}

}  // namespace dnt_proxy
