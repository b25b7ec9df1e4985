// The sketch's costs: adding a block (what a broken-file scan pays per block, on the thread
// that takes the checksums), decoding d differences, and the smallest test file that decodes
// the damage of a 64 GiB file.
//
//   BM_AddBlocks/m         ns per block at m symbols
//   BM_Decode/d            the valid side's decode of d differences, ns per difference
//   BM_SmallestDecoding/k  for N = 16777216 blocks (64 GiB) and damage of 0.001, 0.01, 0.1 and 1 %
//                          (k = 0 to 3), three seeds each: the smallest m that decodes, as symbols
//                          per difference and bytes per damaged block (24 m / d) beside the floor
//                          of about 6 (each damaged block's position and a 32-bit checksum)
//
// The sketch is linear: the broken copy's symbols less the valid copy's are the symbols of the
// differences alone, so BM_SmallestDecoding adds those only instead of scanning 16 million
// blocks twice.
//
// On the two-core development machine (Release, one thread): adding costs about 130, 150 and
// 215 ns per block at 2700, 10000 and 200000 symbols, against an aim of 60 at 10000; of that,
// the exact 128-bit settling of every index takes about 45 ns and walking the indices (17.6 a
// block at 10000 symbols, each a draw, a packed division and square root, and three field
// additions) the rest. Decoding costs 0.5, 0.7 and 1.1 us per difference at 1000, 20000 and
// 200000; the smallest m is 1.43 symbols per difference at 167 differences and 1.355 at
// 167772, 32.5 to 34 bytes per damaged block.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

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

// For N = 16777216 blocks and damage of 0.001, 0.01, 0.1 and 1 % (the argument 0 to 3), over
// three seeds: the smallest m that decodes, per difference and as bytes per damaged block.
void BM_SmallestDecoding(benchmark::State& state) {
  constexpr uint64_t kBlocks = 16777216;
  const double percent = std::pow(10.0, static_cast<double>(state.range(0)) - 3);
  const auto d = static_cast<uint64_t>(kBlocks * percent / 100);
  double most = 0, total = 0;
  for (auto _ : state) {
    for (uint64_t seed = 1; seed <= 3; ++seed) {
      const double perDifference = static_cast<double>(SmallestDecoding(Differences(d, static_cast<uint32_t>(3 * d + 64), seed))) / d;
      most = std::max(most, perDifference);
      total += perDifference;
    }
  }
  state.counters["damaged_per_million"] = percent * 10000;
  state.counters["d"] = static_cast<double>(d);
  state.counters["symbols_per_d"] = total / 3;
  state.counters["most_symbols_per_d"] = most;
  state.counters["bytes_per_damaged"] = 24 * total / 3;
  state.counters["floor"] = 6;
}
BENCHMARK(BM_SmallestDecoding)->DenseRange(0, 3)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
