#include "tests/tools/dnt_proxy/proxy_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>

namespace proxy_test {
namespace {

using Clock = std::chrono::steady_clock;
namespace net = boost::asio;

template <class Ready>
bool Poll(std::chrono::milliseconds limit, Ready&& ready) {
  const auto deadline = Clock::now() + limit;
  while (!ready()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// The test's environment. Under AddressSanitizer, freed memory would wait
// in a quarantine of 256 MB, which hides whether the proxy's own memory
// stays flat: the proxy gets a small one.
std::vector<std::string> ProxyEnvironment() {
  std::vector<std::string> environment;
  std::string sanitizer = "ASAN_OPTIONS=";
  for (char** variable = environ; *variable; ++variable) {
    const std::string text = *variable;
    if (text.rfind(sanitizer, 0) == 0) {
      sanitizer = text + ":";
    } else {
      environment.push_back(text);
    }
  }
#if defined(__SANITIZE_ADDRESS__)
  environment.push_back(sanitizer + "quarantine_size_mb=4");
#else
  if (sanitizer.back() == ':') environment.push_back(sanitizer.substr(0, sanitizer.size() - 1));
#endif
  return environment;
}

}  // namespace

ProxyProcess::ProxyProcess(const std::vector<std::string>& arguments, const std::filesystem::path& log)
    : m_log(log) {
  std::filesystem::remove(log);
  std::vector<std::string> all = {DNT_PROXY_PATH, "--listen", "127.0.0.1:0", "--admin", "127.0.0.1:0", "--log",
                                  log.string()};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<std::string> environment = ProxyEnvironment();
  // Everything the child needs is made before the fork: the test has
  // threads, and a child may not allocate.
  const std::vector<char*> argv = Pointers(all), envp = Pointers(environment);
  m_pid = fork();
  if (m_pid == 0) {
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  // The start-up lines, in text or in JSON.
  const std::regex listening("(?:listening on |\"listen\":\")127\\.0\\.0\\.1:([0-9]+)");
  const std::regex dashboard("(?:dashboard on http://|\"admin\":\")127\\.0\\.0\\.1:([0-9]+)");
  const bool started = Poll(std::chrono::seconds(30), [&] {
    for (const std::string& line : Log()) {
      std::smatch match;
      if (std::regex_search(line, match, listening)) m_port = static_cast<uint16_t>(std::stoi(match[1]));
      if (std::regex_search(line, match, dashboard)) m_adminPort = static_cast<uint16_t>(std::stoi(match[1]));
    }
    return (m_port != 0 && m_adminPort != 0) || waitpid(m_pid, nullptr, WNOHANG) != 0;
  });
  if (!started || m_port == 0 || m_adminPort == 0) {
    Stop();
    throw std::runtime_error("dnt-proxy did not start");
  }
}

ProxyProcess::~ProxyProcess() {
  if (m_pid > 0) Stop();
}

std::string ProxyProcess::Url() const { return "http://127.0.0.1:" + std::to_string(m_port); }

void ProxyProcess::Signal(int signal) const { kill(m_pid, signal); }

int ProxyProcess::Stop() {
  kill(m_pid, SIGTERM);
  int status = 0;
  if (!Poll(std::chrono::seconds(20), [&] { return waitpid(m_pid, &status, WNOHANG) != 0; })) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
  }
  m_pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> ProxyProcess::Log() const {
  std::vector<std::string> lines;
  std::ifstream in(m_log);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool ProxyProcess::AwaitLog(const std::string& text, std::size_t count, std::chrono::seconds limit) const {
  return Poll(limit, [&] {
    std::size_t found = 0;
    for (const std::string& line : Log()) found += line.find(text) != std::string::npos;
    return found >= count;
  });
}

long ProxyProcess::MemoryKiB(const char* field) const {
  std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
  const std::string prefix = std::string(field) + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  }
  return -1;
}

std::string ProxyProcess::Admin(const std::string& path) const {
  const std::string host = "127.0.0.1:" + std::to_string(m_adminPort);
  const std::string answer =
      RawExchange(m_adminPort, "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n");
  const auto body = answer.find("\r\n\r\n");
  return body == std::string::npos ? "" : answer.substr(body + 4);
}

std::string RawExchange(uint16_t port, const std::string& bytes, std::chrono::milliseconds limit) {
  net::io_context io;
  net::ip::tcp::socket socket(io);
  socket.connect({net::ip::address_v4::loopback(), port});
  net::write(socket, net::buffer(bytes));
  std::string answer;
  std::array<char, 4096> chunk;
  std::function<void()> read = [&] {
    socket.async_read_some(net::buffer(chunk), [&](boost::system::error_code error, std::size_t n) {
      answer.append(chunk.data(), n);
      if (!error) read();
    });
  };
  read();
  io.run_for(limit);
  return answer;
}

unsigned StatusOf(const std::string& answer) {
  std::smatch match;
  return std::regex_search(answer, match, std::regex("^HTTP/1\\.[01] ([0-9]{3})")) ? std::stoul(match[1]) : 0;
}

}  // namespace proxy_test

namespace proxy_test {

std::string FieldOf(const local_origin::ReceivedRequest& request, const std::string& name) {
  for (const auto& [field, value] : request.fields) {
    if (field == name) return value;
  }
  return "(none)";
}

std::vector<local_origin::ReceivedRequest> ReceivedAt(const local_origin::LocalOrigin& origin, const std::string& target) {
  std::vector<local_origin::ReceivedRequest> found;
  for (const local_origin::ReceivedRequest& request : origin.Received()) {
    if (request.target == target) found.push_back(request);
  }
  return found;
}

}  // namespace proxy_test
