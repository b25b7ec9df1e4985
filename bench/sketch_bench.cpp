// The sketch's costs: adding a block (what a broken-file scan pays per block, on the thread
// that takes the checksums), decoding d differences, and, with --smallest, the smallest test
// file that decodes the damage of a 64 GiB file.
//
//   sketch_bench [benchmark options]   BM_AddBlocks/m (ns per block at m symbols) and
//                                      BM_Decode/d (the valid side's decode of d differences)
//   sketch_bench --smallest            for N = 16777216 blocks and damage of 0.001, 0.01, 0.1 and
//                                      1 %, three seeds each: the smallest m that decodes, as
//                                      symbols per difference and bytes per damaged block
//                                      (24 m / d) beside the floor of about 6 (each damaged
//                                      block's position and a 32-bit checksum)
//
// The sketch is linear: the broken copy's symbols less the valid copy's are the symbols of the
// differences alone, so --smallest adds those only instead of scanning 16 million blocks twice.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "core/compact_test_file.h"
#include "core/sketch.h"

namespace {

constexpr uint32_t kSliceBlocks = 256;  // a 1 MiB slice of the scan
constexpr uint32_t kAddedBlocks = 1 << 16;

std::vector<uint32_t> Checksums(uint32_t count, uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::vector<uint32_t> checksums(count);
  for (uint32_t& checksum : checksums) checksum = static_cast<uint32_t>(generator()) | 1;
  return checksums;
}

void BM_AddBlocks(benchmark::State& state) {
  const auto symbols = static_cast<uint32_t>(state.range(0));
  const std::vector<uint32_t> checksums = Checksums(kAddedBlocks, 1);
  Sketch sketch(symbols);
  uint64_t first = 1;
  for (auto _ : state) {
    for (uint32_t at = 0; at < kAddedBlocks; at += kSliceBlocks) sketch.AddBlocks(first + at, checksums.data() + at, kSliceBlocks);
    first += kAddedBlocks;
    benchmark::DoNotOptimize(sketch.Symbols().data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kAddedBlocks);
  state.counters["per_block"] = benchmark::Counter(static_cast<double>(kAddedBlocks),
                                                   benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AddBlocks)->Arg(2700)->Arg(10000)->Arg(200000)->Unit(benchmark::kMillisecond);

// The differences of d damaged blocks among 16 million, in a sketch of m symbols.
Sketch Differences(uint64_t d, uint32_t symbols, uint64_t seed) {
  std::mt19937_64 generator(seed);
  Sketch sketch(symbols);
  std::vector<uint64_t> keys;
  while (keys.size() < d) {
    keys.push_back(generator() % 16777216 + 1);
    if (keys.size() == d) {
      std::sort(keys.begin(), keys.end());
      keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    }
  }
  for (uint64_t key : keys) sketch.Add(key, generator() % 0xFFFFFFFF + 1);
  return sketch;
}

bool Decodes(const Sketch& sketch, uint32_t symbols) {
  std::vector<CodedSymbol> prefix(sketch.Symbols().begin(), sketch.Symbols().begin() + symbols);
  std::vector<SketchDifference> found;
  return DecodeDifferences(prefix, [](uint64_t key) { return key <= 16777216; }, &found) == DecodeVerdict::Decoded;
}

void BM_Decode(benchmark::State& state) {
  const auto d = static_cast<uint64_t>(state.range(0));
  const Sketch sketch = Differences(d, static_cast<uint32_t>(d * 3 / 2 + 100), 2);
  std::vector<SketchDifference> found;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<CodedSymbol> symbols = sketch.Symbols();
    state.ResumeTiming();
    if (DecodeDifferences(symbols, [](uint64_t key) { return key <= 16777216; }, &found) != DecodeVerdict::Decoded) {
      state.SkipWithError("did not decode");
    }
  }
  state.counters["per_difference"] = benchmark::Counter(static_cast<double>(d),
                                                        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Decode)->Arg(1000)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

// The smallest m that decodes, searched by halving (decoding at m + 1 symbols almost never fails
// where m succeeds), then confirmed.
uint32_t SmallestDecoding(const Sketch& sketch) {
  uint32_t low = 1, high = sketch.SymbolCount();
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    if (Decodes(sketch, middle)) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return low;
}

int Smallest() {
  constexpr uint64_t kBlocks = 16777216;
  const uint64_t plain = 12 + 4 * kBlocks;
  std::printf("N = %llu blocks (64 GiB), plain test file %llu bytes; default compact test file %llu bytes (%u symbols)\n",
              static_cast<unsigned long long>(kBlocks), static_cast<unsigned long long>(plain),
              static_cast<unsigned long long>(CompactTestFileLength(DefaultCompactSymbols(kBlocks * 4096))),
              DefaultCompactSymbols(kBlocks * 4096));
  std::printf("%8s %8s %5s %10s %12s %14s %12s %8s\n", "damage", "d", "seed", "smallest m", "symbols/d", "bytes/damaged", "file bytes", "floor");
  for (const double percent : {0.001, 0.01, 0.1, 1.0}) {
    const auto d = static_cast<uint64_t>(kBlocks * percent / 100);
    for (uint64_t seed = 1; seed <= 3; ++seed) {
      const Sketch sketch = Differences(d, static_cast<uint32_t>(3 * d + 64), seed);
      const uint32_t m = SmallestDecoding(sketch);
      std::printf("%7.3f%% %8llu %5llu %10u %12.3f %14.2f %12llu %8.0f\n", percent, static_cast<unsigned long long>(d),
                  static_cast<unsigned long long>(seed), m, static_cast<double>(m) / d, 24.0 * m / d,
                  static_cast<unsigned long long>(CompactTestFileLength(m)), 6.0);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--smallest") == 0) return Smallest();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
