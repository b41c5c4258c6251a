// A bug database of real size (about 9,500 rules, a few hundred exceptions)
// and request URLs of real length, 40% of them to tracker hosts, in one of
// two mask shapes. Fixed seeds: every run measures the same data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/bases_writer/bases_writer.h"

namespace dnt::bench {

enum class MaskShape {
  kGenerated,    ///< mostly '*.name.tld', some bare hosts and paths (GenerateRealShapedMasks)
  kTrackerList,  ///< a public tracker list: every mask '*.host' (GenerateTrackerListMasks)
};

struct RealShapedDatabase {
  bases_writer::Database database;
  std::vector<std::string> urls;
};

/// `rules` rules over `distinctMasks` masks of `shape` (the others repeat a
/// mask with another bug), `exceptions` exception masks, `urls` request URLs.
RealShapedDatabase MakeRealShapedDatabase(MaskShape shape, uint32_t rules, uint32_t distinctMasks,
                                          uint32_t exceptions, uint32_t urls, uint64_t seed = 2024);

}  // namespace dnt::bench
