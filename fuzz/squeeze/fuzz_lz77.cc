// The decoder on raw streams (no checksum in the way), and encoder + decoder
// round trips of arbitrary data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "squeeze/lz77_decoder.h"
#include "squeeze/lz77_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes set the room for the output.
  std::vector<uint8_t> output(std::size_t{data[0]} << 8 | data[1]);
  const std::span<const uint8_t> stream(data + 2, size - 2);
  const auto written = squeeze::DecodeLz77(stream, output);
  if (written && *written > output.size()) std::abort();

  const std::vector<uint8_t> packed = squeeze::EncodeLz77(stream);
  std::vector<uint8_t> decoded(stream.size());
  const auto roundTrip = squeeze::DecodeLz77(packed, decoded);
  if (!roundTrip || *roundTrip != stream.size() || decoded != std::vector<uint8_t>(stream.begin(), stream.end())) {
    std::abort();
  }
  return 0;
}
