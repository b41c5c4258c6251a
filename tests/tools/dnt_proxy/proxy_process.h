// dnt-proxy run as its users run it, as a process of its own, for the tests:
// started on a free loopback port with its access log in a file, signalled,
// stopped, and its log and memory read.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/local_origin/local_origin.h"

namespace proxy_test {

class ProxyProcess {
 public:
  /// Starts dnt-proxy with `arguments` (after --listen 127.0.0.1:0,
  /// --admin 127.0.0.1:0 and --log), and waits for its start-up lines;
  /// throws std::runtime_error when they do not come.
  ProxyProcess(const std::vector<std::string>& arguments, const std::filesystem::path& log);
  ~ProxyProcess();
  ProxyProcess(const ProxyProcess&) = delete;
  ProxyProcess& operator=(const ProxyProcess&) = delete;

  uint16_t Port() const { return m_port; }
  /// Where its dashboard and statistics are.
  uint16_t AdminPort() const { return m_adminPort; }
  /// "http://127.0.0.1:PORT", for curl's -x.
  std::string Url() const;
  void Signal(int signal) const;
  /// SIGTERM, then waits (SIGKILL after 20 s); the exit code, or -1 when it
  /// did not exit by itself.
  int Stop();

  std::vector<std::string> Log() const;
  /// Waits until `count` log lines contain `text`; false after `limit`.
  bool AwaitLog(const std::string& text, std::size_t count, std::chrono::seconds limit) const;
  /// A field of /proc/PID/status in KiB ("VmRSS", "VmHWM").
  long MemoryKiB(const char* field) const;
  /// The body of the admin endpoint's answer at `path` ("/api/stats").
  std::string Admin(const std::string& path) const;

 private:
  std::filesystem::path m_log;
  pid_t m_pid = -1;
  uint16_t m_port = 0;
  uint16_t m_adminPort = 0;
};

/// Sends `bytes` to the proxy on a new connection and returns everything it
/// answers until it closes the connection (or `limit` passes).
std::string RawExchange(uint16_t port, const std::string& bytes,
                        std::chrono::milliseconds limit = std::chrono::seconds(5));

/// The status of the first response in `answer`, or 0.
unsigned StatusOf(const std::string& answer);

/// The value of the field `name` of a request the origin received;
/// "(none)" when it has none.
std::string FieldOf(const local_origin::ReceivedRequest& request, const std::string& name);

/// The requests `origin` received for `target`.
std::vector<local_origin::ReceivedRequest> ReceivedAt(const local_origin::LocalOrigin& origin, const std::string& target);

}  // namespace proxy_test
