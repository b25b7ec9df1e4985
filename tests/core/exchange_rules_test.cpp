// The exchange rules on their own: which block travels, when copies are identical, and what a
// repair file and a broken file must satisfy.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/block.h"
#include "core/exchange_rules.h"

namespace {

constexpr uint64_t kBlock = 4096;

struct TravelCase {
  const char* name;
  uint64_t validSize, recordedSize, entries;
  uint64_t b;
  uint8_t fill;           // every byte of the valid block inside the valid size
  bool entryMatches;      // the test file's entry equals the block's checksum
  bool travels;
};

TEST(ExchangeRulesTest, WhichBlockTravels) {
  // 0xFF fill checksums to 0 like zeros: only the length rule can see it.
  const TravelCase cases[] = {
      {"checksum differs", 3 * kBlock, 3 * kBlock, 3, 2, 0x11, false, true},
      {"checksum agrees inside L", 3 * kBlock, 3 * kBlock, 3, 2, 0x11, true, false},
      {"zeros past a shorter copy's end", 3 * kBlock, kBlock, 1, 3, 0x00, true, false},
      {"0xFF past a shorter copy's end", 3 * kBlock, kBlock, 1, 3, 0xFF, true, true},
      {"0xFF in the block the copy ends in", 3 * kBlock, 2 * kBlock + 10, 3, 3, 0xFF, true, true},
      {"0xFF past the entries though B is larger", 3 * kBlock, 3 * kBlock, 1, 2, 0xFF, true, true},
      {"0xFF inside L", 3 * kBlock, 3 * kBlock, 3, 3, 0xFF, true, false},
      // A test file cut short: no entry for a block the copy has bytes in.
      {"zeros past the entries of a cut test file", 3 * kBlock, 3 * kBlock, 2, 3, 0x00, true, true},
      {"zeros where the copy has one byte past the entries", 3 * kBlock, 2 * kBlock + 1, 2, 3, 0x00, true, true},
  };
  for (const TravelCase& c : cases) {
    SCOPED_TRACE(c.name);
    Exchange exchange;
    exchange.validSize = c.validSize;
    exchange.validBlocks = BlockCount64(c.validSize);
    exchange.recordedSize = c.recordedSize;
    exchange.entries = c.entries;
    std::vector<uint8_t> block(kBlock, 0);
    const uint32_t inFile = BlockBytesInFile(c.b, c.validSize);
    std::fill(block.begin(), block.begin() + inFile, c.fill);
    const uint32_t checksum = BlockChecksum(block.data());
    EXPECT_EQ(BlockMustTravel(exchange, c.b, block.data(), c.entryMatches ? checksum : checksum ^ 1), c.travels);
  }
}

TEST(ExchangeRulesTest, IdenticalOnlyForTheSameLengthBlockForBlock) {
  Exchange same{10000, 3, 10000, 3};
  EXPECT_TRUE(CopiesIdentical(same, 0));
  EXPECT_FALSE(CopiesIdentical(same, 1));
  Exchange otherSize{10000, 3, 9999, 3};
  EXPECT_FALSE(CopiesIdentical(otherSize, 0));
  Exchange fewerEntries{10000, 3, 10000, 2};
  EXPECT_FALSE(CopiesIdentical(fewerEntries, 0));
  EXPECT_EQ(VouchedLength(fewerEntries), 2 * kBlock);
  EXPECT_EQ(VouchedLength(otherSize), 9999u);
}

TEST(ExchangeRulesTest, WhatARepairFileAndABrokenFileMustSatisfy) {
  EXPECT_FALSE(BlockNumberFits(0, 3));
  EXPECT_TRUE(BlockNumberFits(1, 3));
  EXPECT_TRUE(BlockNumberFits(3, 3));
  EXPECT_FALSE(BlockNumberFits(4, 3));
  // How much differs: the blocks carried, or the sizes, whichever says more.
  EXPECT_DOUBLE_EQ(DifferingShare(1, 4 * kBlock, 4 * kBlock), 0.25);
  EXPECT_DOUBLE_EQ(DifferingShare(1, 4 * kBlock, 8 * kBlock), 0.5);
  EXPECT_DOUBLE_EQ(DifferingShare(0, 4 * kBlock, 4 * kBlock), 0.0);
  const struct {
    double share;
    uint32_t percent;
  } percents[] = {{0, 0}, {0.001, 1}, {0.4, 40}, {0.996, 99}, {1, 100}};
  for (const auto& p : percents) EXPECT_EQ(SharePercent(p.share), p.percent) << p.share;
  EXPECT_EQ(BlockBytesInFile(3, 2 * kBlock + 1), 1u);
  EXPECT_EQ(BlockBytesInFile(2, 2 * kBlock + 1), kBlock);
  EXPECT_EQ(BlockBytesInFile(4, 2 * kBlock + 1), 0u);
}

}  // namespace
