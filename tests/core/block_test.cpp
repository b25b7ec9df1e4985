// Block count, image size and block checksum.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/block.h"
#include "tests/testing/reference.h"

namespace {

struct CountCase {
  uint32_t size;
  uint32_t blocks;
};

TEST(BlockCountTest, RoundsUpWithoutSign) {
  const CountCase cases[] = {
      {0, 0},
      {1, 1},
      {4095, 1},
      {4096, 1},
      {4097, 2},
      {8192, 2},
      {0x80000000u, 0x80000},
      {0xFFFFF000u, 0xFFFFF},
      {0xFFFFF001u, 0x100000},
      {0xFFFFFFFEu, 0x100000},
  };
  for (const CountCase& c : cases) {
    EXPECT_EQ(BlockCount(c.size), c.blocks) << c.size;
    EXPECT_EQ(BlockCount64(c.size), c.blocks) << c.size;
  }
}

Bytes Block(std::initializer_list<std::pair<size_t, uint8_t>> bytes) {
  Bytes block(4096, 0);
  for (const auto& [offset, value] : bytes) block[offset] = value;
  return block;
}

struct ChecksumCase {
  const char* name;
  Bytes block;
  uint32_t checksum;
};

TEST(BlockChecksumTest, IsTheExclusiveOrOfTheLittleEndianWords) {
  Bytes allOnes(4096, 0x01);
  const ChecksumCase cases[] = {
      {"zero block", Block({}), 0},
      {"words 1 and 2", Block({{0, 1}, {4, 2}}), 3},
      {"ABCDE", Block({{0, 0x41}, {1, 0x42}, {2, 0x43}, {3, 0x44}, {4, 0x45}}), 0x44434204},
      {"same value in two words cancels", Block({{100, 0x5A}, {101, 0xA5}, {2000, 0x5A}, {2001, 0xA5}}), 0},
      {"top bit is not sign-extended", Block({{4095, 0x80}}), 0x80000000u},
      {"1024 equal words cancel", allOnes, 0},
      {"one byte in the last word", Block({{4093, 0x7F}}), 0x00007F00},
  };
  for (const ChecksumCase& c : cases) {
    EXPECT_EQ(BlockChecksum(c.block.data()), c.checksum) << c.name;
    EXPECT_EQ(BlockChecksum(c.block.data()), ReferenceChecksum(c.block, 0)) << c.name;
  }
}

TEST(BlockChecksumTest, AgreesWithTheByteWiseFormOnRandomBlocksAtAnyAlignment) {
  const Bytes data = RandomBytes(7, 64 * 4096 + 3);
  for (size_t shift = 0; shift < 4; ++shift) {
    for (uint64_t b = 0; b < 64; ++b) {
      const Bytes block(data.begin() + static_cast<long>(b * 4096 + shift), data.begin() + static_cast<long>((b + 1) * 4096 + shift));
      ASSERT_EQ(BlockChecksum(data.data() + b * 4096 + shift), ReferenceChecksum(block, 0)) << b << " " << shift;
    }
  }
}

TEST(BlockChecksumTest, MissesReorderedWordsAndPairedBitFlips) {
  Bytes original = RandomBytes(11, 4096);
  Bytes swapped = original;
  std::swap_ranges(swapped.begin() + 8, swapped.begin() + 12, swapped.begin() + 400);
  Bytes flipped = original;
  flipped[17] ^= 0x21;
  flipped[17 + 4 * 300] ^= 0x21;
  EXPECT_NE(swapped, original);
  EXPECT_EQ(BlockChecksum(swapped.data()), BlockChecksum(original.data()));
  EXPECT_EQ(BlockChecksum(flipped.data()), BlockChecksum(original.data()));
}

}  // namespace
