// JSON Lines of requests: one JSON object per line (see ReadJsonLinesEntry).
#pragma once

#include <istream>
#include <string>

#include "tools/dnt_scan/traffic.h"

namespace dnt_scan {

/// Lines longer than this are reported and skipped unread.
inline constexpr size_t MaxLineLength = 16 * 1024 * 1024;

/// Reads the requests on `in`, one per line, giving `sink` each request or
/// the problem of its line (with the line number). Blank lines are skipped.
/// Throws InputError when the first request line is not a JSON object: the
/// input is then not JSON Lines at all.
void ReadJsonLines(std::istream& in, const std::string& defaultPage, TrafficSink& sink);

}  // namespace dnt_scan
