// Layout of the SQZE container and of the FILE records in its payload.
#pragma once

#include <cstddef>
#include <cstdint>

namespace squeeze {

inline constexpr uint32_t kContainerMagic = 0x455A5153;  // "SQZE"
inline constexpr uint32_t kContainerVersion = 1;
inline constexpr std::size_t kContainerHeaderSize = 24;

namespace header_offset {
inline constexpr std::size_t Magic = 0;
inline constexpr std::size_t Version = 4;
inline constexpr std::size_t Reserved = 8;
inline constexpr std::size_t UnpackedSize = 12;
inline constexpr std::size_t PackedSize = 16;
inline constexpr std::size_t Checksum = 20;
}  // namespace header_offset

inline constexpr uint32_t kRecordMagic = 0x454C4946;  // "FILE"
/// Magic, data size, name length; the name and then the data follow.
inline constexpr std::size_t kRecordHeaderSize = 12;

}  // namespace squeeze
