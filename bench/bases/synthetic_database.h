// A bug database of realistic shape and size for benchmarks, from a fixed
// seed: tracker hosts, pixel paths, script names and wildcard subdomains.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/bases_writer/bases_writer.h"

namespace dnt::bench {

struct SyntheticDatabase {
  bases_writer::Database database;
  /// URLs to query: about a third hit a rule, some an exception, the rest
  /// nothing.
  std::vector<std::string> urls;
};

SyntheticDatabase MakeSyntheticDatabase(uint32_t rules, uint32_t exceptions, uint32_t urls, uint32_t seed = 12345);

}  // namespace dnt::bench
