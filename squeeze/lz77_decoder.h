// Decoder of the LZ77 stream of packed base files (format in lz77_format.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace squeeze {

/// Decodes `packed` into `output` up to the end marker. Returns the number of
/// bytes written, or nullopt when the stream is malformed: it runs out before
/// the end marker, would write past `output`, or refers to bytes before the
/// start of the output. Bytes after the end marker are ignored.
std::optional<std::size_t> DecodeLz77(std::span<const uint8_t> packed, std::span<uint8_t> output);

/// The most bytes that `packedSize` bytes of stream can decode to: no code
/// yields more than 256 bytes for 3 input bytes. A claimed size above this is
/// a corrupt header, and need not be allocated to find out.
constexpr uint64_t MaxLz77DecodedSize(uint64_t packedSize) { return packedSize * 256 / 3; }

}  // namespace squeeze
