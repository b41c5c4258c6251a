// Arbitrary bytes as a packed base file: only "Failed to unpack the file"
// may come out, never a crash, an over-read or a huge allocation.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "squeeze/container_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    squeeze::UnpackContainer({data, size});
  } catch (const std::runtime_error&) {
  }
  return 0;
}
