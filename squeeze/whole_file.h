// Reading a whole disk file into memory with the messages base-file loading
// reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace squeeze {

/// The file's bytes. Throws std::runtime_error "Failed to open file [" +
/// path + "]", "Failed to move to the beginning of the file" (size or seek)
/// or "Failed to read the file" (short read).
std::vector<uint8_t> ReadWholeFile(const std::string& path);

}  // namespace squeeze
