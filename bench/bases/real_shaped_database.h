// A bug database shaped like the real one (about 9,500 rules over 7,300
// distinct tracker masks, a few hundred exceptions) and request URLs of real
// length, 40% of them to tracker hosts. Fixed seeds: every run measures the
// same data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/bases_writer/bases_writer.h"

namespace dnt::bench {

struct RealShapedDatabase {
  bases_writer::Database database;
  std::vector<std::string> urls;
};

/// `rules` rules over `distinctMasks` masks (the others repeat a mask with
/// another bug), `exceptions` exception masks, `urls` request URLs.
RealShapedDatabase MakeRealShapedDatabase(uint32_t rules, uint32_t distinctMasks, uint32_t exceptions,
                                          uint32_t urls, uint64_t seed = 2024);

}  // namespace dnt::bench
