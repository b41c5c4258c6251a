// Fetching a feed's files over HTTPS (or plain HTTP to loopback, for
// tests): every server certificate verified against the system's
// authorities or those of one PEM file, and its name checked; a deadline
// on every answer, a limit on its size, a few redirects to the same
// scheme. One thread fetches at a time; another may stop it.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace bases_feed {

struct Url {
  bool tls = true;
  /// A name, or an address (IPv6 without brackets).
  std::string host;
  uint16_t port = 443;
  /// Starts with '/'.
  std::string target;

  std::string Text() const;
};

/// Reads an http:// or https:// URL (no user, no fragment). Throws
/// std::invalid_argument.
Url ParseUrl(std::string_view text);

/// `reference` (an absolute URL, an absolute path or a relative path) read
/// against `base`. Throws std::invalid_argument.
Url ResolveUrl(const Url& base, std::string_view reference);

/// The fetch was stopped (by Stop): nothing to report.
struct Stopped {};

struct Response {
  /// 200, or 304 when the ETag asked for still holds.
  unsigned status = 0;
  std::string etag;
  std::string body;
};

class Fetcher {
 public:
  /// `authorities`: a PEM file of the only authorities trusted, empty for
  /// the system's. Throws std::runtime_error when it cannot be read.
  Fetcher(const std::string& authorities, std::chrono::milliseconds timeout);
  Fetcher(const Fetcher&) = delete;
  Fetcher& operator=(const Fetcher&) = delete;

  /// GETs `url`, following up to 5 redirects to the same scheme, with a
  /// body of at most `limit` bytes; `ifNoneMatch` makes it a conditional
  /// request. Throws FeedError (Unreachable, Timeout, Tls, HttpStatus,
  /// Redirect, TooLarge) or Stopped.
  Response Get(const Url& url, std::size_t limit, const std::string& ifNoneMatch = "");

  /// Ends the fetch under way, if any, and every later one; any thread.
  void Stop();

 private:
  Response Once(const Url& url, std::size_t limit, const std::string& ifNoneMatch, std::string& location);

  boost::asio::io_context m_io;
  boost::asio::ssl::context m_tls;
  std::chrono::milliseconds m_timeout;
  std::atomic<bool> m_stopped{false};
};

}  // namespace bases_feed
