// Writing of SQZE containers, the inverse of UnpackContainer.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace squeeze {

/// A container holding one FILE record named `recordName` with `content` as
/// its data. Throws std::length_error when the payload would not fit the
/// 32-bit size fields.
std::vector<uint8_t> PackContainer(std::span<const uint8_t> content, std::string_view recordName);

/// The record name for a file at `path`: its base name (after the last '/'
/// or '\').
std::string RecordNameForPath(std::string_view path);

}  // namespace squeeze
