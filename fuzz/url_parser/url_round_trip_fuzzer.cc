#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "url_parser/testing/url_round_trip.h"

// Any bytes: parsing must not crash, and whatever parses and serialises must
// read back to the same text and parts.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (auto failure = orv::network::testing::CheckUrlRoundTrip(input)) {
    std::fprintf(stderr, "URL round trip failed: %s\n", failure->c_str());
    std::abort();
  }
  return 0;
}
