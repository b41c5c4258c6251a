// The main of a benchmark program that can also write its data out as
// files, for the tools' --stats runs.
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

namespace dnt::bench {

/// With an argument `option` followed by a directory, only calls
/// `write(directory)` (true on success); otherwise runs the benchmarks.
template <class Write>
int RunBenchmarksOrWrite(int argc, char** argv, std::string_view option, Write&& write) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.starts_with(option)) return write(std::string(argument.substr(option.size()))) ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace dnt::bench
