#include "tools/dnt_proxy/bases_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace dnt_proxy {
namespace {

constexpr auto Quiet = std::chrono::milliseconds(300);

int WatchDescriptor(const std::string& directory) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) throw std::runtime_error(std::string("cannot watch the bases: ") + std::strerror(errno));
  if (inotify_add_watch(fd, directory.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE) <
      0) {
    const int error = errno;
    close(fd);
    throw std::runtime_error("cannot watch " + directory + ": " + std::strerror(error));
  }
  return fd;
}

}  // namespace

BasesWatch::BasesWatch(boost::asio::io_context& io, const std::string& directory, std::function<void()> changed)
    : m_strand(boost::asio::make_strand(io)),
      m_events(m_strand, WatchDescriptor(directory)),
      m_quiet(m_strand),
      m_changed(std::move(changed)) {
  Read();
}

BasesWatch::~BasesWatch() {
  boost::system::error_code ignored;
  m_events.close(ignored);
  m_quiet.cancel();
}

void BasesWatch::Read() {
  m_events.async_read_some(boost::asio::buffer(m_buffer), [this](boost::system::error_code error, std::size_t) {
    if (error) return;
    // Every event restarts the wait: the update comes once the writing stops.
    m_quiet.expires_after(Quiet);
    m_quiet.async_wait([this](boost::system::error_code error) {
      if (!error) m_changed();
    });
    Read();
  });
}

}  // namespace dnt_proxy
