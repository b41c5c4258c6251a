// Turning one recorded request (a HAR entry or a line of JSON Lines) into a
// TrafficEntry, with every field checked and bounded.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "tools/dnt_scan/traffic.h"

namespace dnt_scan {

/// A recorded request that cannot be scanned; its text says why.
class EntryProblem : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Strings longer than this are not kept whole (see CapturedString).
inline constexpr size_t MaxTextLength = 64 * 1024;

/// Notes kept per entry; one more note counts those beyond.
inline constexpr size_t MaxNotes = 16;

/// How a reader stands in for a string it did not keep: its first bytes
/// and its length, as a binary value, which JSON text cannot hold, so that
/// no input can pass for one.
nlohmann::json CapturedString(const std::string& text);

struct CaptureShape;

/// What the readers keep of a HAR entry and of a JSON Lines object: the
/// members the functions below read, nothing else.
const CaptureShape& HarEntryShape();
const CaptureShape& JsonLinesShape();

/// The request of HAR entry `entry` (number `number`), captured in
/// HarEntryShape; null stands for an entry that outgrew the capture's
/// budget. Throws EntryProblem.
TrafficEntry ReadHarEntry(const nlohmann::json& entry, size_t number, const std::string& defaultPage);

/// The request of one JSON Lines object:
/// {"url", "method"?, "httpVersion"?, "page"?, "headers"?, "response"?: {"status", "headers"}}
/// where headers are an object of names to a value or a list of values, or
/// a list of {"name", "value"}; null as for ReadHarEntry. Throws
/// EntryProblem.
TrafficEntry ReadJsonLinesEntry(const nlohmann::json& line, size_t number, const std::string& defaultPage);

}  // namespace dnt_scan
