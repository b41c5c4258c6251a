// The proxy's access log: one line per request the engine blocked or
// changed, per session verdict, per bases update and per problem, plus a
// start-up line. Text lines read "TIME EVENT TEXT"; JSON lines hold the
// time, the event and the event's own fields. Any thread may write.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

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

 private:
  std::mutex m_lock;
  std::FILE* m_out;
  bool m_owned;
  LogFormat m_format;
};

}  // namespace dnt_proxy
