// --watch: a change in the bases directory asks for a bases update, once
// the directory has been quiet for a moment (a new set of bases is several
// files, written one after the other).
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <array>
#include <functional>
#include <string>

namespace dnt_proxy {

class BasesWatch {
 public:
  /// Watches `directory`; calls `changed` on `io`'s threads. Throws
  /// std::runtime_error when the directory cannot be watched.
  BasesWatch(boost::asio::io_context& io, const std::string& directory, std::function<void()> changed);
  ~BasesWatch();

 private:
  void Read();

  boost::asio::strand<boost::asio::io_context::executor_type> m_strand;
  boost::asio::posix::stream_descriptor m_events;
  boost::asio::steady_timer m_quiet;
  std::function<void()> m_changed;
  std::array<char, 4096> m_buffer;
};

}  // namespace dnt_proxy
