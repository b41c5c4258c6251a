#include "squeeze/container_writer.h"

#include <limits>
#include <stdexcept>

#include "squeeze/container_format.h"
#include "squeeze/crc32.h"
#include "squeeze/little_endian.h"
#include "squeeze/lz77_encoder.h"
#include "squeeze/scramble.h"

namespace squeeze {

std::vector<uint8_t> PackContainer(std::span<const uint8_t> content, std::string_view recordName) {
  constexpr uint64_t kMaxSize = std::numeric_limits<uint32_t>::max();
  const uint64_t payloadSize = kRecordHeaderSize + uint64_t{recordName.size()} + content.size();
  if (payloadSize > kMaxSize) throw std::length_error("File too large to pack");

  std::vector<uint8_t> payload;
  payload.reserve(static_cast<std::size_t>(payloadSize));
  AppendLe32(payload, kRecordMagic);
  AppendLe32(payload, static_cast<uint32_t>(content.size()));
  AppendLe32(payload, static_cast<uint32_t>(recordName.size()));
  payload.insert(payload.end(), recordName.begin(), recordName.end());
  payload.insert(payload.end(), content.begin(), content.end());
  Scramble(payload);

  const std::vector<uint8_t> packed = EncodeLz77(payload);
  if (packed.size() > kMaxSize) throw std::length_error("File too large to pack");
  std::vector<uint8_t> file;
  file.reserve(kContainerHeaderSize + packed.size());
  AppendLe32(file, kContainerMagic);
  AppendLe32(file, kContainerVersion);
  AppendLe32(file, 0);  // reserved
  AppendLe32(file, static_cast<uint32_t>(payload.size()));
  AppendLe32(file, static_cast<uint32_t>(packed.size()));
  AppendLe32(file, Crc32(packed));
  file.insert(file.end(), packed.begin(), packed.end());
  return file;
}

std::string RecordNameForPath(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace squeeze
