// Arbitrary bytes as a partner or incompatible site stream with a count from
// the first four bytes: the walk ends in a result or in its errors, never in
// an over-read or a reservation the bytes cannot back.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "do_not_track/dnt_engine/bug_bases_exceptional_sites.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint32_t count = uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 | uint32_t{data[3]} << 24;
  dnt::ExceptionalSites sites{orv::ComPtr<orv::ITracer>()};
  sites.Assign(std::vector<uint8_t>(data + 4, data + size), count);
  std::vector<std::u16string> names;
  try {
    sites.Validate();
    sites.Enumerate(names);
  } catch (const std::exception&) {
  }
  return 0;
}
