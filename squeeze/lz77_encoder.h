// Encoder producing the LZ77 stream that DecodeLz77 reads.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace squeeze {

/// Compresses `input` (hash-chain match search with one step of lazy
/// matching) and terminates the stream with the end marker.
std::vector<uint8_t> EncodeLz77(std::span<const uint8_t> input);

}  // namespace squeeze
