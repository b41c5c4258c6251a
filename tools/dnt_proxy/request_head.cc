#include "tools/dnt_proxy/request_head.h"

#include <boost/asio/buffer.hpp>

#include "tools/dnt_proxy/forwarding.h"

namespace dnt_proxy {
namespace {

constexpr std::string_view LineEnd = "\r\n";
constexpr std::string_view HeadEnd = "\r\n\r\n";

HeadScan Refused(unsigned status, std::string reason) {
  HeadScan scan;
  scan.state = HeadScan::State::Refused;
  scan.status = status;
  scan.reason = std::move(reason);
  return scan;
}

std::size_t LeadingEmptyLines(std::string_view bytes) {
  std::size_t skip = 0;
  while (bytes.substr(skip, 2) == LineEnd) skip += 2;
  return skip;
}

// A field line that begins with a blank continues the line before it.
bool HasObsoleteFolding(std::string_view head) {
  for (std::size_t at = head.find(LineEnd); at != std::string_view::npos; at = head.find(LineEnd, at + 2)) {
    if (at + 2 < head.size() && (head[at + 2] == ' ' || head[at + 2] == '\t')) return true;
  }
  return false;
}

}  // namespace

HeadScan ScanRequestHead(std::string_view bytes) {
  HeadScan scan;
  scan.skip = LeadingEmptyLines(bytes);
  const std::string_view head = bytes.substr(scan.skip);
  const std::size_t lineEnd = head.find(LineEnd);
  if (lineEnd == std::string_view::npos ? head.size() > MaxRequestLine : lineEnd > MaxRequestLine) {
    return Refused(414, "the request line is longer than 8 KiB");
  }
  if (lineEnd == std::string_view::npos) return scan;
  // The request line's own line end can be the first half of the head's end.
  const std::size_t end = head.find(HeadEnd, lineEnd);
  const std::size_t fieldsSize = (end == std::string_view::npos ? head.size() : end + HeadEnd.size()) - lineEnd;
  if (fieldsSize > MaxHeaderBlock + LineEnd.size()) return Refused(431, "the header fields are larger than 64 KiB");
  if (end == std::string_view::npos) return scan;
  scan.size = end + HeadEnd.size();
  if (HasObsoleteFolding(head.substr(0, end + LineEnd.size()))) {
    return Refused(400, "obsolete line folding in the header");
  }
  scan.state = HeadScan::State::Complete;
  return scan;
}

HeadCheck CheckRequestHead(RequestParser& parser, std::string_view head) {
  parser.header_limit(static_cast<std::uint32_t>(MaxHead));
  LiftBodyLimit(parser);
  boost::beast::error_code error;
  const std::size_t used = parser.put(boost::asio::buffer(head.data(), head.size()), error);
  if (error == http::error::bad_transfer_encoding || error == http::error::bad_content_length) {
    return {400, "the message length is ambiguous (Transfer-Encoding with Content-Length, or differing "
                 "Content-Lengths)"};
  }
  if (error) return {400, "malformed request: " + error.message()};
  if (used != head.size() || !parser.is_header_done()) return {400, "malformed request head"};
  const auto& header = parser.get();
  if (header.count(http::field::transfer_encoding) != 0 && (!parser.chunked() || header.version() < 11)) {
    return {400, "a transfer coding that does not end in chunked"};
  }
  // The body goes on re-chunked: another coding would reach the server
  // unnamed.
  if (const std::string codings = TransferCodings(header); !codings.empty()) {
    return {501, "the transfer coding \"" + codings + "\" is not supported"};
  }
  if (header.count(http::field::host) > 1) return {400, "more than one Host field"};
  return {};
}

}  // namespace dnt_proxy
