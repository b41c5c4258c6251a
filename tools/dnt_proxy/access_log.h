// The proxy's access log: one line per request the engine blocked or
// changed, per session verdict, per bases update and per problem, plus a
// start-up line. Text lines read "TIME EVENT TEXT", control characters in
// them escaped; JSON lines hold the time, the event and the event's own
// fields. Either way a line is one record. Any thread may write. Lines
// reach the file within a fifth of a second, not one system call each.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>

namespace dnt_proxy {

enum class LogFormat { Text, Json };

class AccessLog {
 public:
  /// Appends to `path`, or writes to standard output when it is empty.
  /// Throws std::runtime_error when the file cannot be opened.
  AccessLog(const std::string& path, LogFormat format);
  ~AccessLog();
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  /// Writes one line: `text` for people, `fields` (an object) for programs.
  void Write(std::string_view event, std::string_view text, nlohmann::json fields = nlohmann::json::object());

  /// The same, with the fields made by `makeFields` only when the log is
  /// JSON: for the lines written per request.
  template <class MakeFields, class = std::enable_if_t<std::is_invocable_r_v<nlohmann::json, MakeFields>>>
  void Write(std::string_view event, std::string_view text, MakeFields&& makeFields) {
    Write(event, text, m_format == LogFormat::Json ? makeFields() : nlohmann::json::object());
  }

 private:
  // The flushing thread.
  void FlushPeriodically();

  std::mutex m_lock;
  std::condition_variable m_wake;
  std::FILE* m_out;
  bool m_owned;
  LogFormat m_format;
  bool m_pending = false;
  bool m_stopping = false;
  std::thread m_flusher;  // last: starts once the members it uses exist
};

}  // namespace dnt_proxy
