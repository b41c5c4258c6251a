// Listing of base files on disk.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dnt {

/// Full paths of the files in `directory` whose names match `mask`
/// (case-insensitive, '?' one character, '*' any run), in the platform's
/// listing order; directories are skipped unless they are links. Throws
/// orv::CheckResultFailedException with the listing's error as a result code
/// when the directory cannot be listed.
std::vector<std::string> EnumerateFiles(const std::string& directory, std::string_view mask);

}  // namespace dnt
