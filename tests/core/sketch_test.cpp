// The sketch end to end (blocks scanned, the compact test file written and read in pieces, the
// valid side's blocks subtracted, the differences decoded), the mapping every stored test file
// depends on, the estimator's accuracy, the two rounds of an asked test file, hostile sketches
// and the refusals of both readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <vector>

#include "core/asking_repair_file.h"
#include "core/byte_order.h"
#include "core/compact_test_file.h"
#include "core/sketch.h"
#include "core/test_file.h"
#include "tests/testing/scratch_folder.h"

namespace {

std::vector<uint32_t> Checksums(uint64_t seed, uint32_t blocks) {
  std::mt19937_64 generator(seed);
  std::vector<uint32_t> checksums(blocks);
  for (uint32_t& checksum : checksums) checksum = static_cast<uint32_t>(generator());
  return checksums;
}

// The compact test file of these blocks, written in pieces of 1000 bytes.
Bytes CompactFile(const std::vector<uint32_t>& blocks, uint64_t size, uint32_t symbols) {
  Sketch sketch(symbols);
  for (size_t at = 0; at < blocks.size(); at += 256) {
    sketch.AddBlocks(at + 1, blocks.data() + at, std::min<size_t>(256, blocks.size() - at));
  }
  CompactTestFileWriter writer(size, symbols);
  Bytes file(writer.Length());
  for (size_t at = 0; !writer.Complete();) at += writer.Emit(file.data() + at, 1000, &sketch);
  return file;
}

// Read in pieces of piece bytes.
bool ReadCompact(const Bytes& file, CompactTestFileReader& reader, size_t piece = 777) {
  if (!reader.Start(file.data(), file.size())) return false;
  for (size_t at = kCompactHeaderBytes; at < file.size(); at += piece) {
    if (!reader.Take(file.data() + at, std::min(piece, file.size() - at))) return false;
  }
  return reader.Finish();
}

struct ExchangeCase {
  uint32_t brokenBlocks, validBlocks, damaged, symbols;
  DecodeVerdict verdict;
};

TEST(SketchTest, TheValidSideDecodesTheDamagedBlocksOrSaysItCannot) {
  const ExchangeCase cases[] = {
      {1100, 1100, 0, 125, DecodeVerdict::Decoded},        {1100, 1100, 1, 125, DecodeVerdict::Decoded},
      {20000, 20000, 60, 125, DecodeVerdict::Decoded},     {20000, 20000, 120, 125, DecodeVerdict::NotDecoded},
      {70000, 70000, 1900, 2685, DecodeVerdict::Decoded},  {70000, 70000, 2600, 2685, DecodeVerdict::NotDecoded},
      {30000, 29000, 30, 2685, DecodeVerdict::Decoded},    // broken longer: its last 1000 blocks only it has
      {29000, 30000, 30, 2685, DecodeVerdict::Decoded},    // valid longer
  };
  for (const ExchangeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.brokenBlocks << " and " << c.validBlocks << " blocks, " << c.damaged << " damaged, "
                                    << c.symbols << " symbols");
    const std::vector<uint32_t> valid = Checksums(c.validBlocks, c.validBlocks);
    std::vector<uint32_t> broken = Checksums(c.validBlocks, c.brokenBlocks);
    std::map<uint64_t, uint64_t> expected;  // block, cA - cV
    for (uint32_t n = 0; n < c.damaged; ++n) broken[(n * 7919u) % std::min(c.brokenBlocks, c.validBlocks)] ^= 0x40000001u + n;
    for (uint32_t b = 1; b <= std::max(c.brokenBlocks, c.validBlocks); ++b) {
      const uint64_t cA = b <= c.brokenBlocks ? broken[b - 1] : 0, cV = b <= c.validBlocks ? valid[b - 1] : 0;
      if (cA != cV) expected[b] = FieldSub(cA, cV);
    }
    CompactTestFileReader reader;
    ASSERT_TRUE(ReadCompact(CompactFile(broken, uint64_t{c.brokenBlocks} * 4096 - 100, c.symbols), reader));
    EXPECT_EQ(reader.Header().brokenSize, uint64_t{c.brokenBlocks} * 4096 - 100);
    Sketch& sketch = reader.Read();
    sketch.SubtractBlocks(1, valid.data(), valid.size());
    std::vector<SketchDifference> found;
    const DecodeVerdict verdict = DecodeDifferences(
        sketch.Symbols(), [&](uint64_t key) { return key <= std::max(c.brokenBlocks, c.validBlocks); }, &found);
    ASSERT_EQ(verdict, c.verdict);
    EXPECT_LE(found.size(), c.symbols);
    for (const SketchDifference& difference : found) EXPECT_EQ(expected.at(difference.key), difference.delta);
    if (verdict == DecodeVerdict::Decoded) {
      EXPECT_EQ(found.size(), expected.size());
    }
  }
}

// The mapping is the format: a change of it would make every stored test file unreadable.
TEST(SketchTest, TheMappingIsTheOneEveryStoredTestFileWasMadeWith) {
  const std::vector<uint32_t> golden[] = {
      {0, 1, 2, 18, 19, 27, 30, 88, 120, 138, 256, 665},
      {0, 1, 2, 8, 11, 14, 34, 110, 116, 210, 310, 471, 714},
      {0, 1, 3, 11, 13, 15, 63, 110, 339, 369, 425},
  };
  const uint64_t keys[] = {1, 0xFFFFFFFF, kFieldPrime - 1};
  for (int k = 0; k < 3; ++k) {
    std::vector<uint32_t> indices;
    for (SymbolIndices at(keys[k], 1000); !at.Done(); at.Next()) indices.push_back(at.Index());
    EXPECT_EQ(indices, golden[k]) << "key " << keys[k];
  }
  const Bytes file = CompactFile(Checksums(3, 5000), 5000 * 4096, 300);
  EXPECT_EQ(Hash128Hex(Xxh3Hash128(file.data(), file.size())), "f186a001dbcaa951873389c0249adb5b");
  // Where the estimate of the next index is least sure, the exact rule decides: u* is the last
  // value that still reaches j from i.
  const uint32_t steps[][2] = {{0, 1}, {0, 7}, {5, 6}, {40, 41}, {3, 1000000}, {1000, 123456}, {0x7FFFFFF0, 0x7FFFFFFD}};
  for (const auto& [i, j] : steps) {
    const uint64_t s = (i + uint64_t{1}) * (i + 2), pj = (j + uint64_t{1}) * (j + 2);
    const auto last = static_cast<uint64_t>((static_cast<unsigned __int128>(pj - s) << 64) / pj);
    EXPECT_EQ(NextSymbolIndex(i, last, kMostSymbols), j) << i << " to " << j;
    EXPECT_GT(NextSymbolIndex(i, last + 1, kMostSymbols), j) << i << " past " << j;
    EXPECT_EQ(NextSymbolIndex(i, last, j), j) << i << " beyond the last of " << j << " symbols";
  }
}

// Over fixed seeds, for every count: nine estimates in ten within 0.75 to 1.4 times it, none
// off by half; and the closer estimate a prefix that just failed gives.
TEST(SketchTest, TheEstimateIsWithinItsStatedSpreadFromOneToTenMillionDifferences) {
  int estimates = 0, within = 0;
  for (uint64_t d = 1; d <= 10000000; d *= 10) {
    const int seeds = static_cast<int>(std::clamp<uint64_t>(10000000 / d, 4, 200));
    for (int seed = 0; seed < seeds; ++seed, ++estimates) {
      EstimatorCells cells;
      for (uint64_t k = 1; k <= d; ++k) ToggleEstimator(cells, uint64_t(seed) << 32 | k, k * 2654435761u % 0xFFFFFFFF + 1);
      const double ratio = EstimateDifferences(cells) / static_cast<double>(d);
      within += ratio >= 0.75 && ratio <= 1.4;
      EXPECT_TRUE(ratio > 0.5 && ratio < 2) << d << " differences estimated " << ratio << " times, seed " << seed;
    }
  }
  EXPECT_GE(within, estimates * 9 / 10) << within << " of " << estimates << " estimates within 0.75 to 1.4 times the count";
  // A prefix that just failed (2000 differences in 2685 symbols) narrows it to a few percent.
  for (int seed = 0; seed < 10; ++seed) {
    Sketch sketch(2685);
    for (uint64_t k = 1; k <= 2000; ++k) sketch.Add(uint64_t(seed) << 32 | k, k);
    EXPECT_NEAR(EstimateDifferences(sketch.Cells(), sketch.Symbols()), 2000, 200) << "seed " << seed;
  }
}

// Both rounds over fixed seeds: the first, of the default 64 KiB, does not decode; the second,
// of the length asked, does, and both together stay within 2.5 times the test file that would
// just have decoded.
TEST(SketchTest, ASecondTestFileOfTheLengthAskedDecodes) {
  const uint64_t size = uint64_t{1} << 32;  // 1048576 blocks: the default is 64 KiB, 2685 symbols
  const uint32_t first = DefaultCompactSymbols(size);
  ASSERT_EQ(first, 2685u);
  for (uint32_t d : {2000u, 2500u, 4000u, 9000u, 30000u}) {
    std::mt19937_64 generator(d);
    Sketch differences(3 * d + 2000);
    for (uint32_t n = 0; n < d; ++n) differences.Add(generator() % 1048576 + 1, generator() % 0xFFFFFFFF + 1);
    auto decodes = [&](uint32_t m, std::vector<SketchDifference>* found) {
      std::vector<CodedSymbol> prefix(differences.Symbols().begin(), differences.Symbols().begin() + m);
      return DecodeDifferences(prefix, [](uint64_t) { return true; }, found) == DecodeVerdict::Decoded;
    };
    std::vector<SketchDifference> found;
    const std::vector<CodedSymbol> prefix(differences.Symbols().begin(), differences.Symbols().begin() + first);
    const double estimate = EstimateDifferences(differences.Cells(), prefix);
    ASSERT_FALSE(decodes(first, &found)) << d;
    const uint64_t asked = AskedTestFileLength(size, CompactTestFileLength(first), estimate, found.size());
    const uint32_t second = CompactSymbolsForBudget(asked);
    ASSERT_EQ(CompactTestFileLength(second), asked) << d;
    ASSERT_LE(second, differences.SymbolCount()) << d;
    EXPECT_TRUE(decodes(second, &found)) << d << " differences, " << second << " symbols";
    uint32_t right = first;
    while (!decodes(right, &found)) right += std::max(1u, right / 100);
    EXPECT_LE(CompactTestFileLength(first) + asked, 2.5 * CompactTestFileLength(right)) << d << " differences";
  }
}

// A sketch made to fool the decoder ends within its bound: at most m differences, none twice.
TEST(SketchTest, HostileSketchesEndNotDecoded) {
  const uint32_t m = 200;
  auto pure = [](uint64_t key, uint64_t delta) {
    return CodedSymbol{delta, FieldMul(delta, key), FieldMul(delta, KeyHash(key))};
  };
  std::vector<uint32_t> mapped;
  for (SymbolIndices at(77, m); !at.Done(); at.Next()) mapped.push_back(at.Index());
  ASSERT_GE(mapped.size(), 3u);
  uint32_t unmapped = 0;  // the first index key 77 does not map to
  while (std::count(mapped.begin(), mapped.end(), unmapped) > 0) ++unmapped;
  struct Case {
    const char* name;
    std::vector<std::pair<uint32_t, CodedSymbol>> symbols;
    size_t mostFound;
  };
  const Case cases[] = {
      {"pure at an index its key does not map to", {{unmapped, pure(77, 5)}}, 0},
      {"pure in symbol 0 alone, its other symbols left", {{0, pure(77, 5)}}, 1},
      {"the same key pure twice with two deltas", {{mapped[1], pure(77, 5)}, {mapped[2], pure(77, 9)}}, 1},
      {"a key out of range", {{0, pure(5000, 5)}}, 0},
      {"a key of 0", {{0, {5, 0, 0}}}, 0},
  };
  for (const Case& c : cases) {
    std::vector<CodedSymbol> symbols(m);
    for (const auto& [index, symbol] : c.symbols) symbols[index] = symbol;
    std::vector<SketchDifference> found;
    EXPECT_EQ(DecodeDifferences(symbols, [](uint64_t key) { return key < 1000; }, &found), DecodeVerdict::NotDecoded) << c.name;
    EXPECT_LE(found.size(), c.mostFound) << c.name;
  }
  for (const CodedSymbol& every : {pure(77, 5), CodedSymbol{1, 2, 3}, pure(1, 1)}) {
    std::vector<CodedSymbol> symbols(m, every);
    std::vector<SketchDifference> found;
    EXPECT_EQ(DecodeDifferences(symbols, [](uint64_t) { return true; }, &found), DecodeVerdict::NotDecoded);
    EXPECT_LE(found.size(), m);
  }
}

Bytes Changed(Bytes bytes, size_t at, uint64_t value, int width, bool sealed) {
  width == 4 ? StoreU32LE(bytes.data() + at, static_cast<uint32_t>(value)) : StoreU64LE(bytes.data() + at, value);
  if (sealed) StoreHash128(bytes.data() + bytes.size() - 16, Xxh3Hash128(bytes.data(), bytes.size() - 16));
  return bytes;
}

TEST(SketchTest, TheReadersRefuseCutLengthenedAndChangedFiles) {
  const uint64_t size = 20000 * 4096;
  const Bytes compact = CompactFile(Checksums(9, 20000), size, 125);
  CompactTestFileReader reader;
  ASSERT_TRUE(ReadCompact(compact, reader, 1));
  ASSERT_TRUE(ReadCompact(compact, reader, compact.size()));
  Bytes lengthened = compact, cut = compact, unsealed = compact;
  lengthened.push_back(0);
  cut.pop_back();
  unsealed[2000] ^= 1;
  const uint64_t symbolAt = CompactSymbolAt(124) + 8;
  const Bytes refused[] = {lengthened, cut, unsealed, Changed(compact, 12, 2, 4, true), Changed(compact, 24, 126, 4, true),
                           Changed(compact, 28, 31, 4, true), Changed(compact, 32, 32, 4, true), Changed(compact, 24, 0, 4, true),
                           Changed(compact, symbolAt, kFieldPrime, 8, true), Changed(compact, 16, 1000 * 4096, 8, true),
                           Changed(compact, 16, kLargestExchangedSize + 1, 8, true)};
  for (const Bytes& file : refused) EXPECT_FALSE(ReadCompact(file, reader)) << &file - refused;
  EXPECT_TRUE(ReadCompact(Changed(compact, symbolAt, kFieldPrime - 1, 8, true), reader));
  EXPECT_FALSE(reader.Start(compact.data(), compact.size()) && reader.Take(compact.data() + 36, compact.size() - 35));

  Bytes asking(kAskingRepairFileBytes);
  const uint64_t answered = CompactTestFileLength(125), plain = TestFileLength(size);
  StoreAskingRepairFile(asking.data(), {size, answered, {1, 2}, 300, CompactTestFileLength(500)});
  AskingRepairFile read;
  ASSERT_TRUE(ReadAskingRepairFile(asking.data(), asking.size(), &read));
  EXPECT_TRUE(read.askedLength == CompactTestFileLength(500) && read.answeredCheck == Hash128({1, 2}));
  ASSERT_TRUE(ReadAskingRepairFile(Changed(asking, 56, plain, 8, true).data(), 80, &read));
  Bytes lengthenedAsking = asking, changedAsking = asking;
  lengthenedAsking.push_back(0);
  changedAsking[50] ^= 1;
  const Bytes refusedAsking[] = {lengthenedAsking, Bytes(asking.begin(), asking.end() - 1), changedAsking,
                                 Changed(asking, 12, 2, 4, true), Changed(asking, 56, answered, 8, true),
                                 Changed(asking, 56, answered + 1, 8, true), Changed(asking, 56, plain + 4, 8, true),
                                 Changed(asking, 24, answered + 1, 8, true), Changed(asking, 24, plain + 24, 8, true)};
  for (const Bytes& file : refusedAsking) EXPECT_FALSE(ReadAskingRepairFile(file.data(), file.size(), &read)) << &file - refusedAsking;
}

TEST(SketchTest, TheSizesChosenForATestFile) {
  EXPECT_EQ(CompactSymbolsForBudget(4095), 0u);
  EXPECT_EQ(CompactSymbolsForBudget(4096), 125u);
  EXPECT_EQ(DefaultCompactSymbols(uint64_t{1} << 30), 2685u);   // 1 GiB: 64 KiB
  EXPECT_EQ(DefaultCompactSymbols(uint64_t{1} << 36), 10877u);  // 64 GiB: 256 KiB, the plain form / 256
  EXPECT_TRUE(PlainFormIsSmaller(10 << 20, 2685));               // 10 MiB: 10 KiB of plain form
  EXPECT_FALSE(PlainFormIsSmaller(uint64_t{1} << 30, 2685));
  EXPECT_EQ(AskedTestFileLength(100 << 20, CompactTestFileLength(2685), 1e6, 0), TestFileLength(100 << 20));
  EXPECT_EQ(AskedTestFileLength(65 << 20, TestFileLength(65 << 20), 10, 0), 0u);
}

}  // namespace
