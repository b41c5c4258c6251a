// Finalize time, layout size and Match time of realistic mask sets.
//
// Run: mask_engine_bench [--benchmark_filter=...]
//      mask_engine_bench --write-sets=DIR   (writes masks_<n>.txt, urls.txt,
//                                             masks_real.txt and urls_real.txt
//                                             for `dntbases mask-match --stats`)
#include <benchmark/benchmark.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_main.h"
#include "bench/mask_engine/mask_set_generator.h"
#include "mask_engine/mask_engine.h"

namespace mask_engine::bench {
namespace {

constexpr uint64_t kMaskSeed = 20240601;
constexpr uint64_t kUrlSeed = 777;
constexpr size_t kUrlCount = 5000;
const int64_t kSetSizes[] = {1000, 10000, 50000, 200000};
constexpr size_t kRealShapedMasks = 7273;

const std::vector<std::string>& Masks(size_t count) {
  static std::map<size_t, std::vector<std::string>> cache;
  auto it = cache.find(count);
  if (it == cache.end()) it = cache.emplace(count, GenerateMasks(count, kMaskSeed)).first;
  return it->second;
}

std::shared_ptr<MaskEngine> AddAll(const std::vector<std::string>& masks) {
  auto engine = MaskEngine::Create();
  for (const auto& m : masks) engine->AddMask(m.data(), static_cast<uint32_t>(m.size()));
  return engine;
}

const std::shared_ptr<MaskEngine>& Compiled(size_t count) {
  static std::map<size_t, std::shared_ptr<MaskEngine>> cache;
  auto it = cache.find(count);
  if (it == cache.end()) {
    auto engine = AddAll(Masks(count));
    engine->Finalize();
    it = cache.emplace(count, std::move(engine)).first;
  }
  return it->second;
}

void BM_Finalize(benchmark::State& state) {
  const auto& masks = Masks(static_cast<size_t>(state.range(0)));
  MaskEngineStats stats;
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = AddAll(masks);
    state.ResumeTiming();
    engine->Finalize();
    state.PauseTiming();
    stats = engine->Stats();
    engine.reset();
    state.ResumeTiming();
  }
  state.counters["bytes_per_mask"] =
      static_cast<double>(stats.layoutBytes + stats.indexBytes) / static_cast<double>(stats.masks);
  state.counters["keys"] = static_cast<double>(stats.keys);
  state.counters["indexed_keys"] = static_cast<double>(stats.indexedKeys);
}

void BM_AddMasks(benchmark::State& state) {
  const auto& masks = Masks(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(AddAll(masks));
}

void RunMatches(benchmark::State& state, const std::vector<std::string>& urls) {
  auto matcher = Compiled(static_cast<size_t>(state.range(0)))->CreateMatcher();
  size_t i = 0;
  size_t reported = 0;
  for (auto _ : state) {
    const std::string& url = urls[i];
    reported += matcher->Match(url.data(), static_cast<uint32_t>(url.size())).size();
    if (++i == urls.size()) i = 0;
  }
  state.counters["matches_per_url"] =
      benchmark::Counter(static_cast<double>(reported), benchmark::Counter::kAvgIterations);
}

void BM_MatchMix(benchmark::State& state) {
  const auto& masks = Masks(static_cast<size_t>(state.range(0)));
  RunMatches(state, GenerateUrlMix(masks, kUrlCount, kUrlSeed));
}

void BM_MatchKind(benchmark::State& state) {
  const auto& masks = Masks(static_cast<size_t>(state.range(0)));
  const UrlKind kind = kAllUrlKinds[state.range(1)];
  state.SetLabel(UrlKindName(kind));
  RunMatches(state, GenerateUrls(masks, kind, kUrlCount / 5, kUrlSeed));
}

void SizesOnly(benchmark::internal::Benchmark* b) {
  for (int64_t n : kSetSizes) b->Arg(n);
}

void SizesAndKinds(benchmark::internal::Benchmark* b) {
  for (int64_t n : kSetSizes) {
    for (int64_t k = 0; k < static_cast<int64_t>(std::size(kAllUrlKinds)); ++k) b->Args({n, k});
  }
}

// A set shaped like the real tracker list and requests of real length.
const std::vector<std::string>& RealShapedMasks() {
  static const std::vector<std::string> masks = GenerateRealShapedMasks(kRealShapedMasks, kMaskSeed);
  return masks;
}

void BM_MatchRealShaped(benchmark::State& state) {
  const auto method = state.range(0) == 0 ? MatchMethod::kIndexed : MatchMethod::kAutomatonOnly;
  state.SetLabel(state.range(0) == 0 ? "indexed" : "automaton");
  auto engine = MaskEngine::Create(method);
  for (const auto& m : RealShapedMasks()) engine->AddMask(m.data(), static_cast<uint32_t>(m.size()));
  engine->Finalize();
  const std::vector<std::string> urls = GenerateRealShapedUrls(RealShapedMasks(), kUrlCount, 40, kUrlSeed);
  MatchScratch scratch;
  size_t i = 0;
  for (auto _ : state) {
    const std::string& url = urls[i];
    benchmark::DoNotOptimize(engine->Match(url.data(), static_cast<uint32_t>(url.size()), scratch).size());
    if (++i == urls.size()) i = 0;
  }
  const MaskEngineStats stats = engine->Stats();
  state.counters["bytes_per_mask"] =
      static_cast<double>(stats.layoutBytes + stats.indexBytes) / static_cast<double>(stats.masks);
}

BENCHMARK(BM_Finalize)->Apply(SizesOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MatchRealShaped)->Arg(0)->Arg(1);
BENCHMARK(BM_AddMasks)->Apply(SizesOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MatchMix)->Apply(SizesOnly);
BENCHMARK(BM_MatchKind)->Apply(SizesAndKinds);

bool WriteSets(const std::string& dir) {
  for (int64_t n : kSetSizes) {
    std::ofstream out(dir + "/masks_" + std::to_string(n) + ".txt", std::ios::binary);
    for (const auto& m : Masks(static_cast<size_t>(n))) out << m << '\n';
    if (!out) return false;
  }
  std::ofstream urls(dir + "/urls.txt", std::ios::binary);
  for (const auto& u : GenerateUrlMix(Masks(50000), kUrlCount, kUrlSeed)) urls << u << '\n';
  std::ofstream realMasks(dir + "/masks_real.txt", std::ios::binary);
  for (const auto& m : RealShapedMasks()) realMasks << m << '\n';
  std::ofstream realUrls(dir + "/urls_real.txt", std::ios::binary);
  for (const auto& u : GenerateRealShapedUrls(RealShapedMasks(), kUrlCount, 40, kUrlSeed)) realUrls << u << '\n';
  return urls && realMasks && realUrls;
}

}  // namespace
}  // namespace mask_engine::bench

int main(int argc, char** argv) {
  return dnt::bench::RunBenchmarksOrWrite(argc, argv, "--write-sets=", mask_engine::bench::WriteSets);
}
