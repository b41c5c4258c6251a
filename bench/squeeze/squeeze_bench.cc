// Pack ratio and pack/unpack throughput on a bug-database-like payload.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "squeeze/container_reader.h"
#include "squeeze/container_writer.h"

namespace {

void AppendVarint(std::vector<uint8_t>& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
}

void AppendString(std::vector<uint8_t>& out, const std::string& text) {
  AppendVarint(out, text.size());
  out.insert(out.end(), text.begin(), text.end());
}

// Records of a service id, a host or URL mask and a few numeric fields, the
// mix a bug database holds; fixed seed so every run measures the same bytes.
const std::vector<uint8_t>& DatabaseLikePayload() {
  static const std::vector<uint8_t> payload = [] {
    constexpr std::size_t kSize = 10 * 1024 * 1024;
    std::mt19937 rng(20240601);
    const char* const syllables[] = {"ad", "track", "stat", "pix", "cdn", "metr", "soc", "log",
                                     "click", "serv", "an", "ly", "tics", "net", "data", "beac"};
    const char* const tlds[] = {".com", ".net", ".org", ".ru", ".de", ".io", ".co.uk"};
    const char* const paths[] = {"/pixel.gif", "/collect", "/js/tag.js", "/b/ss", "/__utm.gif", "/ping", ""};
    auto word = [&] {
      std::string w;
      for (unsigned n = 1 + rng() % 3; n > 0; --n) w += syllables[rng() % 16];
      return w;
    };
    std::vector<uint8_t> out;
    out.reserve(kSize + 256);
    while (out.size() < kSize) {
      AppendVarint(out, rng() % 5000);  // service index
      AppendVarint(out, rng() % 8);     // category
      std::string mask = (rng() % 3 == 0 ? "*." : "") + word() + (rng() % 2 ? "." + word() : "") + tlds[rng() % 7];
      if (rng() % 2) mask += std::string(paths[rng() % 7]) + (rng() % 4 == 0 ? "*" : "");
      AppendString(out, mask);
      AppendVarint(out, rng() % 64);                 // flags
      AppendVarint(out, 1700000000 + rng() % 86400);  // time stamp
    }
    out.resize(kSize);
    return out;
  }();
  return payload;
}

void BM_Pack(benchmark::State& state) {
  const auto& payload = DatabaseLikePayload();
  std::size_t packedSize = 0;
  for (auto _ : state) {
    const auto file = squeeze::PackContainer(payload, "dntbugs.dat");
    packedSize = file.size();
    benchmark::DoNotOptimize(file.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.size()));
  state.counters["ratio"] = static_cast<double>(packedSize) / static_cast<double>(payload.size());
}
BENCHMARK(BM_Pack)->Unit(benchmark::kMillisecond);

void BM_Unpack(benchmark::State& state) {
  const auto& payload = DatabaseLikePayload();
  const auto file = squeeze::PackContainer(payload, "dntbugs.dat");
  for (auto _ : state) {
    const auto content = squeeze::UnpackContainer(file);
    benchmark::DoNotOptimize(content.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.size()));
}
BENCHMARK(BM_Unpack)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
