// CRC-32 as used by zip and PNG: reflected polynomial 0xEDB88320, initial
// value all ones, final inversion.
#pragma once

#include <cstdint>
#include <span>

namespace squeeze {

uint32_t Crc32(std::span<const uint8_t> data);

}  // namespace squeeze
