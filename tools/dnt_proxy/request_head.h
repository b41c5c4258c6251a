// The head of a request as it arrives from a client: where it ends in the
// bytes read so far, the limits it must keep, and whether Beast's parser and
// the checks against request smuggling accept it. Nothing is forwarded
// before a head has passed here.
#pragma once

#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace dnt_proxy {

namespace http = boost::beast::http;

using RequestParser = http::request_parser<http::buffer_body>;

inline constexpr std::size_t MaxRequestLine = 8 * 1024;
/// The header fields, after the request line, through the blank line.
inline constexpr std::size_t MaxHeaderBlock = 64 * 1024;
/// The most a head can take in the read buffer.
inline constexpr std::size_t MaxHead = MaxRequestLine + MaxHeaderBlock;

/// What the bytes read so far hold of a request head.
struct HeadScan {
  enum class State { Incomplete, Complete, Refused };
  State state = State::Incomplete;
  /// Empty lines before the request line, which are dropped.
  std::size_t skip = 0;
  /// Complete: the head's bytes after `skip`, through its blank line.
  std::size_t size = 0;
  /// Refused: 414 for a long request line, 431 for a large header block,
  /// 400 for obsolete line folding.
  unsigned status = 0;
  std::string reason;
};

/// Lifts a parser's limit on the body, which is relayed, never held. This
/// Boost's parser takes boost::none for a limit of nothing, so the largest
/// number stands for none.
template <class Parser>
void LiftBodyLimit(Parser& parser) {
  parser.body_limit(std::numeric_limits<std::uint64_t>::max());
}

/// Looks for the end of the head at the start of `bytes`.
HeadScan ScanRequestHead(std::string_view bytes);

/// The answer a refused head gets; status 0 when it is accepted.
struct HeadCheck {
  unsigned status = 0;
  std::string reason;
};

/// Hands a complete head (as ScanRequestHead delimited it) to `parser`,
/// which then reads the body, and refuses what a proxy must not pass on:
/// malformed heads, Transfer-Encoding with Content-Length, differing
/// Content-Lengths, a transfer coding that does not end in chunked (and,
/// with 501, codings other than chunked), several Host fields.
HeadCheck CheckRequestHead(RequestParser& parser, std::string_view head);

}  // namespace dnt_proxy
