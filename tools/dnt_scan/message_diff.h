// Saying what the engine changed in a message.
#pragma once

#include <string>
#include <vector>

#include "tools/dnt_scan/traffic.h"

namespace dnt_scan {

/// One line per field name whose values differ, in the order the names
/// first appear: "removed Cookie", "added DNT: 1",
/// "changed Cookie: a=1; b=2 -> a=1". Names compare without case.
std::vector<std::string> DiffFields(const HeaderFields& before, const HeaderFields& after);

}  // namespace dnt_scan
