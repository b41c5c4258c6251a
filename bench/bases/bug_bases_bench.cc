// Loading a bug database of 50k rules and 5k exceptions, and the cost of the
// per-URL queries on it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <unistd.h>

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

void BM_LoadBugBases(benchmark::State& state) {
  const Fixture& fixture = Shared();
  size_t modelBytes = 0;
  long rssDelta = 0;
  for (auto _ : state) {
    const long before = ResidentBytes();
    std::unique_ptr<BugBases> bases = Load(fixture.file);
    rssDelta = ResidentBytes() - before;
    modelBytes = bases->MemoryBytes();
    benchmark::DoNotOptimize(bases.get());
    state.PauseTiming();
    bases.reset();
    state.ResumeTiming();
  }
  state.counters["file_bytes"] = static_cast<double>(fixture.file.size());
  state.counters["model_bytes"] = static_cast<double>(modelBytes);
  state.counters["rss_delta_bytes"] = static_cast<double>(rssDelta);
}
BENCHMARK(BM_LoadBugBases)->Unit(benchmark::kMillisecond);

// Rules and exceptions of one URL, as a script asks for them.
void BM_MatchUrl(benchmark::State& state) {
  const Fixture& fixture = Shared();
  static const std::unique_ptr<BugBases> bases = Load(fixture.file);
  const std::vector<std::string>& urls = fixture.synthetic.urls;
  size_t i = 0;
  size_t matches = 0;
  for (auto _ : state) {
    const std::string& url = urls[i++ % urls.size()];
    const auto length = static_cast<uint32_t>(url.size());
    matches += MatchBugRules(*bases, url.data(), length).size();
    matches += MatchBugExceptions(*bases, url.data(), length).size();
  }
  state.counters["matches_per_url"] = static_cast<double>(matches) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_MatchUrl)->Threads(1)->Threads(2);

void BM_HttpsDomainCheck(benchmark::State& state) {
  static const std::unique_ptr<BugBases> bases = Load(Shared().file);
  const std::string domain = "www.media17.track.net";
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        IsHttpsDomainProcessingRequired(*bases, domain.data(), static_cast<uint32_t>(domain.size())));
  }
}
BENCHMARK(BM_HttpsDomainCheck);

}  // namespace

BENCHMARK_MAIN();
