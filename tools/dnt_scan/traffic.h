// Recorded traffic as the scanner reads it: pages, and the requests made for
// them with their header fields and, when recorded, the response's fields.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/http_message.h"

namespace dnt_scan {

// The fields are kept as the engine will be handed them.
using HeaderField = host::HttpField;
using HeaderFields = std::vector<HeaderField>;

struct TrafficResponse {
  int status = 0;
  HeaderFields fields;
};

/// One request as a host would see it on the wire. Bodies are never read.
struct TrafficEntry {
  /// Position in the input: the entry number of a HAR file or the line
  /// number of JSON Lines, from 1.
  size_t number = 0;
  /// The page the request belongs to; requests that name none share one
  /// page named after the input.
  std::string page;
  std::string method;
  std::string url;
  /// "HTTP/1.1", "HTTP/2", ...
  std::string httpVersion;
  HeaderFields fields;
  std::optional<TrafficResponse> response;
  /// What the reader changed to make the request scannable.
  std::vector<std::string> notes;
};

struct PageInfo {
  std::string id;
  std::string title;
};

/// An entry of the input that cannot be scanned; the others still are.
struct InputProblem {
  size_t number = 0;
  std::string text;
};

/// Receives the input in the order it is read.
class TrafficSink {
 public:
  virtual void Page(PageInfo page) = 0;
  virtual void Entry(TrafficEntry entry) = 0;
  virtual void Problem(InputProblem problem) = 0;

 protected:
  ~TrafficSink() = default;
};

/// The input as a whole cannot be read: not JSON, not HAR, unreadable.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace dnt_scan
