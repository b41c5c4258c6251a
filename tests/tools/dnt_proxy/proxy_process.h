// dnt-proxy run as its users run it, as a process of its own, for the tests:
// started on a free loopback port with its access log in a file, signalled,
// stopped, and its log, memory and statistics read; and the test that runs
// it between curl and a local origin that records what reaches it.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cmake/build_paths.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/program_run.h"
#include "tools/local_origin/local_origin.h"

namespace proxy_test {

/// A bases' verdict script that detects nothing, for bases whose request
/// script alone is under test.
inline constexpr const char* NotDetectedVerdictScript = R"(
return "GetVerdict", function()
  return function() return {}, DntEngine.VERDICT_NOT_DETECTED end
end
)";

class ProxyProcess {
 public:
  /// Starts dnt-proxy with `arguments` (after --listen `listen`:0,
  /// --admin 127.0.0.1:0, --log and, unless they give one, --state in the
  /// log's folder), and waits for its start-up lines;
  /// throws std::runtime_error when they do not come.
  ProxyProcess(const std::vector<std::string>& arguments, const std::filesystem::path& log,
               const std::string& listen = "127.0.0.1");
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

  /// Every line of its log so far.
  std::vector<std::string> Log() const;
  /// Waits until `count` log lines contain `text`; false after `limit`.
  bool AwaitLog(const std::string& text, std::size_t count = 1,
                std::chrono::seconds limit = std::chrono::seconds(1)) const;
  /// A field of /proc/PID/status in KiB ("VmRSS", "VmHWM").
  long MemoryKiB(const char* field) const;
  /// The body its admin endpoint answers for `path`.
  std::string Admin(const std::string& path) const;
  /// What its admin endpoint's /api/stats says.
  nlohmann::json Stats() const;
  /// The admin token its dashboard page holds; empty when none.
  std::string AdminToken() const;
  /// Its whole answer to POST /api/pause for `site`, with `token` and
  /// `origin` when they are not empty.
  std::string Pause(const std::string& site, bool paused, const std::string& token, const std::string& origin = "") const;

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
/// The same from the address `client` to `server`.
std::string RawExchange(const boost::asio::ip::address& client, const boost::asio::ip::tcp::endpoint& server,
                        const std::string& bytes, std::chrono::milliseconds limit = std::chrono::seconds(5));

/// The status of the first response in `answer`, or 0.
unsigned StatusOf(const std::string& answer);

/// The value of the field `name` of a request the origin received;
/// "(none)" when it has none.
std::string FieldOf(const local_origin::ReceivedRequest& request, const std::string& name);

/// The requests `origin` received for `target`.
std::vector<local_origin::ReceivedRequest> ReceivedAt(const local_origin::LocalOrigin& origin, const std::string& target);

/// --map-host options that send each of `names` to 127.0.0.1:`port`.
std::vector<std::string> MapHosts(const std::vector<std::string>& names, uint16_t port);

/// Certificates of the tests' stand-in web, made with the openssl program:
/// the proxy's verification of servers is checked against certificates it
/// did not make itself.
struct WebCertificates {
  /// The web's certificate authority (PEM), for --upstream-ca and browsers.
  std::filesystem::path authority;
  /// Signed by that authority for the names asked for.
  local_origin::TlsIdentity origin;
  /// Signed by itself, for one name.
  local_origin::TlsIdentity selfSigned;
};

/// Makes them in `directory`; throws std::runtime_error when openssl fails.
WebCertificates MakeWebCertificates(const std::filesystem::path& directory, const std::vector<std::string>& names,
                                    const std::string& selfSignedName);

/// A test with a scratch folder and a local origin, for dnt-proxy in between.
class ProxyTest : public ::testing::Test {
 protected:
  /// dnt-proxy with `arguments`, its log in the scratch folder.
  ProxyProcess Start(const std::vector<std::string>& arguments) const {
    return ProxyProcess(arguments, m_scratch.path() / "proxy.log");
  }
  tools_test::ProgramRun Run(const std::string& command) const { return tools_test::RunProgram(command, m_scratch.path()); }
  /// curl through `proxy`, silent and bounded in time.
  tools_test::ProgramRun Curl(const ProxyProcess& proxy, const std::string& arguments) const {
    return Run("curl -s --max-time 30 -x " + proxy.Url() + " " + arguments);
  }

  dnt::testing::TempDir m_scratch;
  local_origin::LocalOrigin m_origin;
};

}  // namespace proxy_test
