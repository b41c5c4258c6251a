// Arbitrary bytes as the files of a host's data storage: the collection
// either yields readable streams or fails with a result-code exception,
// never a crash, an over-read or a huge allocation.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "do_not_track/util/base_files.h"
#include "host/memory_data_storage.h"
#include "host/packed_io_factory.h"
#include "host/service_locator.h"
#include "orv/rtl/error_handling/exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Two little-endian bytes give the script file's length; dntbugs.dat
  // takes the rest.
  if (size < 2) return 0;
  const size_t scriptLength = std::min<size_t>(data[0] | data[1] << 8, size - 2);
  const size_t split = 2 + scriptLength;
  auto storage = host::MakeHostObject<host::MemoryDataStorage>();
  storage->AddFile(u"dnt0001.dat", std::vector<uint8_t>(data + 2, data + split));
  storage->AddFile(u"dntbugs.dat", std::vector<uint8_t>(data + split, data + size));
  auto locator = host::MakeHostObject<host::ServiceLocator>();
  locator->Register(host::MakeHostObject<host::PackedIOFactory>());
  try {
    const dnt::BaseFiles files = dnt::CollectBaseFiles(locator.Get(), nullptr, storage.Get());
    uint8_t buffer[256];
    uint32_t got = 0;
    for (const auto& stream : files.scriptStreams) stream->Read(buffer, sizeof buffer, &got);
    files.bugStream->Read(buffer, sizeof buffer, &got);
  } catch (const orv::CheckResultFailedException&) {
  }
  return 0;
}
