#include "squeeze/container_reader.h"

#include <stdexcept>

#include "squeeze/container_format.h"
#include "squeeze/crc32.h"
#include "squeeze/little_endian.h"
#include "squeeze/lz77_decoder.h"
#include "squeeze/scramble.h"

namespace squeeze {
namespace {

[[noreturn]] void Fail() { throw std::runtime_error("Failed to unpack the file"); }

std::span<const uint8_t> CheckedPackedData(std::span<const uint8_t> file, uint32_t& unpackedSize) {
  if (file.size() < kContainerHeaderSize) Fail();
  const uint8_t* header = file.data();
  if (LoadLe32(header + header_offset::Magic) != kContainerMagic) Fail();
  if (LoadLe32(header + header_offset::Version) != kContainerVersion) Fail();
  unpackedSize = LoadLe32(header + header_offset::UnpackedSize);
  const uint32_t packedSize = LoadLe32(header + header_offset::PackedSize);
  if (packedSize > file.size() - kContainerHeaderSize) Fail();
  const auto packed = file.subspan(kContainerHeaderSize, packedSize);
  if (Crc32(packed) != LoadLe32(header + header_offset::Checksum)) Fail();
  // Refuse sizes the stream cannot produce before allocating for them.
  if (unpackedSize > MaxLz77DecodedSize(packedSize)) Fail();
  return packed;
}

std::vector<uint8_t> TakeOnlyRecord(std::vector<uint8_t>& payload) {
  std::size_t pos = 0;
  std::size_t records = 0;
  std::size_t dataStart = 0;
  std::size_t dataSize = 0;
  while (pos < payload.size()) {
    const std::size_t left = payload.size() - pos;
    if (left < kRecordHeaderSize) Fail();
    const uint8_t* record = payload.data() + pos;
    if (LoadLe32(record) != kRecordMagic) Fail();
    const uint64_t size = LoadLe32(record + 4);
    const uint64_t nameLength = LoadLe32(record + 8);
    const uint64_t total = kRecordHeaderSize + nameLength + size;
    if (total > left) Fail();
    dataStart = pos + kRecordHeaderSize + static_cast<std::size_t>(nameLength);
    dataSize = static_cast<std::size_t>(size);
    pos += static_cast<std::size_t>(total);
    ++records;
  }
  if (records != 1) Fail();
  // In place: a base file is held in memory once, not twice.
  payload.erase(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(dataStart));
  payload.resize(dataSize);
  return std::move(payload);
}

}  // namespace

std::vector<uint8_t> UnpackContainer(std::span<const uint8_t> fileBytes) {
  uint32_t unpackedSize = 0;
  const auto packed = CheckedPackedData(fileBytes, unpackedSize);
  std::vector<uint8_t> payload(unpackedSize);
  const auto written = DecodeLz77(packed, payload);
  if (!written || *written != payload.size()) Fail();
  Scramble(payload);
  return TakeOnlyRecord(payload);
}

}  // namespace squeeze
