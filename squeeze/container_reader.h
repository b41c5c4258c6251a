// Reading of SQZE containers: header check, decompression, descrambling and
// the single FILE record.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace squeeze {

/// Returns the data of the only record of the container `fileBytes` (the
/// whole file). Throws std::runtime_error "Failed to unpack the file" for a
/// bad header, checksum, stream, size or record layout.
std::vector<uint8_t> UnpackContainer(std::span<const uint8_t> fileBytes);

}  // namespace squeeze
