// Loading a bug database of 50k rules and 5k exceptions, and databases of
// real size in two shapes (our generated one and a public tracker list's),
// and the cost of the per-URL queries on them.
//
// Run: bug_bases_bench [--benchmark_filter=...]
//      bug_bases_bench --write-database=DIR [--shape=tracker-list]
//                      (writes dntbugs.dat and urls.txt of the generated
//                       shape, or of the tracker list's, for
//                       `dntbases match --stats`)
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string_view>
#include <unistd.h>

#include "bench/bases/real_shaped_database.h"
#include "bench/bench_main.h"
#include "bench/bases/synthetic_database.h"
#include "do_not_track/dnt_engine/bug_bases_loader.h"
#include "do_not_track/dnt_engine/bug_queries.h"
#include "host/memory_io.h"

namespace {

using namespace dnt;

struct Fixture {
  bench::SyntheticDatabase synthetic = bench::MakeSyntheticDatabase(50000, 5000, 4096);
  std::vector<uint8_t> file = bases_writer::Write(synthetic.database);
};

const Fixture& Shared() {
  static const Fixture fixture;
  return fixture;
}

struct RealShapedFixture {
  explicit RealShapedFixture(bench::MaskShape shape)
      : real(bench::MakeRealShapedDatabase(shape, 9490, shape == bench::MaskShape::kTrackerList ? 9490 : 7273, 600,
                                           100000)),
        file(bases_writer::Write(real.database)) {}
  bench::RealShapedDatabase real;
  std::vector<uint8_t> file;
};

template <bench::MaskShape Shape>
const RealShapedFixture& RealShaped() {
  static const RealShapedFixture fixture(Shape);
  return fixture;
}

constexpr bench::MaskShape kGenerated = bench::MaskShape::kGenerated;
constexpr bench::MaskShape kTrackerList = bench::MaskShape::kTrackerList;

std::unique_ptr<BugBases> Load(const std::vector<uint8_t>& file) {
  auto bases = std::make_unique<BugBases>(orv::ComPtr<orv::ITracer>());
  const auto stream = host::MakeHostObject<host::MemoryIO>(file);
  if (orv::Failed(BugBasesLoader::Load(*bases, stream.Get()))) std::abort();
  return bases;
}

long ResidentBytes() {
  long pages = 0;
  long resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return resident * sysconf(_SC_PAGESIZE);
}

// Heap bytes in use: what a loaded model really holds, allocator overhead
// included.
size_t HeapBytes() { return mallinfo2().uordblks; }

void LoadAndMeasure(benchmark::State& state, const std::vector<uint8_t>& file) {
  size_t modelBytes = 0;
  long rssDelta = 0;
  size_t heapBytes = 0;
  for (auto _ : state) {
    const long before = ResidentBytes();
    const size_t heapBefore = HeapBytes();
    std::unique_ptr<BugBases> bases = Load(file);
    rssDelta = ResidentBytes() - before;
    heapBytes = HeapBytes() - heapBefore;
    modelBytes = bases->MemoryBytes();
    benchmark::DoNotOptimize(bases.get());
    state.PauseTiming();
    bases.reset();
    state.ResumeTiming();
  }
  state.counters["file_bytes"] = static_cast<double>(file.size());
  state.counters["model_bytes"] = static_cast<double>(modelBytes);
  state.counters["rss_delta_bytes"] = static_cast<double>(rssDelta);
  state.counters["heap_bytes"] = static_cast<double>(heapBytes);
}

void BM_LoadBugBases(benchmark::State& state) { LoadAndMeasure(state, Shared().file); }
BENCHMARK(BM_LoadBugBases)->Unit(benchmark::kMillisecond);

template <bench::MaskShape Shape>
void BM_LoadRealShaped(benchmark::State& state) { LoadAndMeasure(state, RealShaped<Shape>().file); }
BENCHMARK(BM_LoadRealShaped<kGenerated>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadRealShaped<kTrackerList>)->Unit(benchmark::kMillisecond);

// Rules and exceptions of one URL, as a script asks for them, with a
// context of its own per thread.
void MatchUrls(benchmark::State& state, const BugBases& bases, const std::vector<std::string>& urls) {
  BugMatchContext context;
  // Threads start at different URLs so that they do not share a cache line's worth of work.
  size_t i = static_cast<size_t>(state.thread_index()) * 7919;
  size_t matches = 0;
  for (auto _ : state) {
    const std::string& url = urls[i++ % urls.size()];
    const auto length = static_cast<uint32_t>(url.size());
    matches += MatchBugRules(bases, url.data(), length, context).size();
    matches += MatchBugExceptions(bases, url.data(), length, context).size();
  }
  state.counters["matches_per_url"] =
      benchmark::Counter(static_cast<double>(matches) / static_cast<double>(state.iterations()), benchmark::Counter::kAvgThreads);
  state.counters["urls_per_second"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_MatchUrl(benchmark::State& state) {
  static const std::unique_ptr<BugBases> bases = Load(Shared().file);
  MatchUrls(state, *bases, Shared().synthetic.urls);
}
BENCHMARK(BM_MatchUrl)->Threads(1)->Threads(2);

template <bench::MaskShape Shape>
void BM_MatchRealShaped(benchmark::State& state) {
  static const std::unique_ptr<BugBases> bases = Load(RealShaped<Shape>().file);
  MatchUrls(state, *bases, RealShaped<Shape>().real.urls);
}
BENCHMARK(BM_MatchRealShaped<kGenerated>)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_MatchRealShaped<kTrackerList>)->Threads(1)->Threads(2)->UseRealTime();

void BM_HttpsDomainCheck(benchmark::State& state) {
  static const std::unique_ptr<BugBases> bases = Load(Shared().file);
  const std::string domain = "www.media17.track.net";
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        IsHttpsDomainProcessingRequired(*bases, domain.data(), static_cast<uint32_t>(domain.size())));
  }
}
BENCHMARK(BM_HttpsDomainCheck);

bool WriteDatabase(const std::string& dir, bench::MaskShape shape) {
  const RealShapedFixture& fixture = shape == kTrackerList ? RealShaped<kTrackerList>() : RealShaped<kGenerated>();
  std::ofstream database(dir + "/dntbugs.dat", std::ios::binary);
  database.write(reinterpret_cast<const char*>(fixture.file.data()), static_cast<std::streamsize>(fixture.file.size()));
  std::ofstream urls(dir + "/urls.txt", std::ios::binary);
  for (const std::string& url : fixture.real.urls) urls << url << '\n';
  return database && urls;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr std::string_view kShapeOption = "--shape=";
  dnt::bench::MaskShape shape = kGenerated;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!argument.starts_with(kShapeOption)) continue;
    const std::string_view name = argument.substr(kShapeOption.size());
    if (name != "tracker-list" && name != "generated") {
      std::fprintf(stderr, "--shape: 'generated' or 'tracker-list'\n");
      return 1;
    }
    shape = name == "tracker-list" ? kTrackerList : kGenerated;
  }
  return dnt::bench::RunBenchmarksOrWrite(argc, argv, "--write-database=",
                                          [shape](const std::string& dir) { return WriteDatabase(dir, shape); });
}
