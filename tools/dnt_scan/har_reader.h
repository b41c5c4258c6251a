// HAR 1.2 files, read as a stream: memory stays bounded by what one entry
// may keep (JsonCapture::Budget; bodies and timings are never kept) and the
// token the parser is reading, not by the file.
#pragma once

#include <istream>
#include <string>

#include "tools/dnt_scan/traffic.h"

namespace dnt_scan {

/// Reads the HAR on `in`, giving `sink` each page and each entry as soon as
/// it has been read; entries that cannot be scanned go to the sink as
/// problems with their entry number. Throws InputError when the input is
/// not JSON or not a HAR file (the text names the entry being read).
/// Entries that name no page belong to `defaultPage`.
void ReadHar(std::istream& in, const std::string& defaultPage, TrafficSink& sink);

}  // namespace dnt_scan
