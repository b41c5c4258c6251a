#include "host/packed_io_factory.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <vector>

#include "host/memory_io.h"
#include "squeeze/container_reader.h"

namespace host {

using namespace orv;

namespace {

// The container's sizes are 32-bit, so a longer stream cannot be a base
// file; the cap also ends a stream that never reports its end.
constexpr uint64_t MaxPackedSize = UINT32_MAX;
constexpr uint32_t ChunkSize = 64 * 1024;

result_t ReadWholeStream(IIO* stream, std::vector<uint8_t>& bytes) {
  if (const result_t code = stream->Seek(seek_origin::Begin, 0, nullptr); Failed(code)) return code;
  bytes.clear();
  for (;;) {
    const std::size_t at = bytes.size();
    if (at >= MaxPackedSize) return result::FileIsTooBig;
    bytes.resize(at + ChunkSize);
    uint32_t got = 0;
    const result_t code = stream->Read(bytes.data() + at, ChunkSize, &got);
    if (Failed(code)) return code;
    bytes.resize(at + std::min(got, ChunkSize));
    if (got == 0) return result::NoError;
  }
}

}  // namespace

result_t PackedIOFactory::CreateUnpackedIO(IIO* packed, IIO** out) {
  if (!out) return result::InvalidArgument;
  *out = nullptr;
  if (!packed) return result::InvalidArgument;
  try {
    std::vector<uint8_t> bytes;
    if (const result_t code = ReadWholeStream(packed, bytes); Failed(code)) return code;
    std::vector<uint8_t> content = squeeze::UnpackContainer(bytes);
    *out = MakeHostObject<MemoryIO>(std::move(content)).Detach();
    return result::NoError;
  } catch (const std::bad_alloc&) {
    return result::OutOfMemory;
  } catch (const std::runtime_error&) {
    return result::BasesCorrupted;
  }
}

}  // namespace host
