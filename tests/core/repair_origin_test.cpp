// The record of the broken file a repair was made for: its part read back and every damage to
// it refused, the sample spread over the file, and the rules that tell the file it was made
// for, partly repaired or torn by a kill, from any other.
#include <gtest/gtest.h>

#include <vector>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/fingerprint_part.h"
#include "core/repair_origin.h"
#include "tests/testing/scratch_folder.h"

namespace {

constexpr uint64_t kSize = 3 * (uint64_t{1} << 20) + 100;
const Hash128 kRegions[4] = {{10, 11}, {20, 21}, {30, 31}, {40, 41}};

// A part of version 2 carrying blocks 5 and 9, and two samples.
Bytes PartWithRecord(uint32_t firstSample = 1, uint32_t secondSample = 700) {
  RepairOrigin origin;
  origin.recordedSize = kSize - 50;
  origin.recordedEntries = BlockCount64(kSize - 50);
  origin.carried = 2;
  origin.samples = 2;
  Bytes part(FingerprintPartBytes(FingerprintForm::EveryRegion, 4, &origin));
  uint64_t at = StoreFingerprintHead(part.data(), kSize, {1, 2}, kRegions, nullptr, 0, origin);
  StoreU32LE(part.data() + at, 0xAAAA);
  StoreU32LE(part.data() + at + 4, 0xBBBB);
  StoreOriginSample(part.data() + at + 8, firstSample, 0xCCCC);
  StoreOriginSample(part.data() + at + 16, secondSample, 0xDDDD);
  part.resize(SealFingerprintPart(part.data(), at + 24));
  return part;
}

bool Holds(const Bytes& part, uint32_t carried = 2) {
  FingerprintPart header;
  Bytes start = part;
  start.resize(std::max<size_t>(part.size(), kLongestFingerprintHeader), 0);
  return ReadFingerprintHeader(start.data(), part.size(), kSize, carried, &header) == FingerprintVerdict::Read &&
         FingerprintPartHolds(part.data(), header);
}

TEST(RepairOriginTest, ThePartOfVersionTwoReadsBackAndRefusesEveryDamage) {
  const Bytes part = PartWithRecord();
  EXPECT_EQ(part.size(), 80u + 4 * 16 + 2 * 4 + 2 * 8 + 16);
  FingerprintPart header;
  ASSERT_EQ(ReadFingerprintHeader(part.data(), part.size(), kSize, 2, &header), FingerprintVerdict::Read);
  ASSERT_TRUE(FingerprintPartHolds(part.data(), header));
  EXPECT_TRUE(header.hasOrigin);
  EXPECT_EQ(header.origin.recordedSize, kSize - 50);
  EXPECT_EQ(FingerprintEntryHash(part.data(), header, 3), kRegions[3]);
  EXPECT_EQ(LoadU32LE(part.data() + OriginValuesAt(header) + 4), 0xBBBBu);
  EXPECT_EQ(LoadU32LE(part.data() + OriginSamplesAt(header) + 8), 700u);

  EXPECT_FALSE(Holds(part, 3)) << "another block count than the repair file's";
  EXPECT_FALSE(Holds(Bytes(part.begin(), part.end() - 1))) << "cut";
  EXPECT_FALSE(Holds(PartWithRecord(700, 1))) << "samples out of order";
  EXPECT_FALSE(Holds(PartWithRecord(1, 800))) << "a sample beyond the recorded size";
  Bytes kind = part;
  StoreU32LE(kind.data() + 68, 3);
  EXPECT_FALSE(Holds(kind)) << "a kind of value no reader knows";
  Bytes changed = part;
  changed[part.size() - 20] ^= 1;
  EXPECT_FALSE(Holds(changed)) << "a sample changed";
}

TEST(RepairOriginTest, TheSampleIsSpreadAndStepsOverCarriedBlocks) {
  const struct {
    uint64_t candidates;
    std::vector<bool> carried;  // of the first candidates; the rest are not
    std::vector<uint64_t> taken;
  } cases[] = {
      {3, {false, true, false}, {0, 2}},
      {0, {}, {}},
      {128, {}, {0, 2, 4, 6}},  // every second one (the first four shown)
      {128, {false, false, true, true, true}, {0, 5, 6, 8}},
  };
  for (const auto& c : cases) {
    std::vector<uint64_t> taken;
    SampleSpread(
        c.candidates, [&](uint64_t j) { return j < c.carried.size() && c.carried[j]; },
        [&](uint64_t j) { taken.push_back(j); });
    EXPECT_LE(taken.size(), kMostSampledBlocks);
    taken.resize(std::min(taken.size(), c.taken.size()));
    EXPECT_EQ(taken, c.taken) << c.candidates;
  }
  // A test file longer than the valid file: only whole blocks inside both.
  EXPECT_EQ(SampleCandidates(10 * kBlockSize, 10, 4 * kBlockSize + 10), 4u);
  EXPECT_EQ(SampleCandidates(3 * kBlockSize + 1, 2, 9 * kBlockSize), 2u);
}

TEST(RepairOriginTest, TheFileItWasMadeForPartlyRepairedOrTornPassesAndNothingElse) {
  RepairOrigin origin;
  origin.recordedSize = 2 * kBlockSize + 10;  // a last block of 10 bytes
  origin.recordedEntries = 3;
  const Bytes recorded = RandomBytes(5, kBlockSize);
  const Bytes valid = RandomBytes(6, kBlockSize);
  const uint32_t value = BlockChecksum(recorded.data());
  Bytes lastBlock(kBlockSize, 0);
  std::copy_n(recorded.begin(), 10, lastBlock.begin());
  const uint32_t lastValue = BlockChecksum(lastBlock.data());

  EXPECT_TRUE(OriginSizeFits(origin, 2 * kBlockSize + 10, 5 * kBlockSize));
  EXPECT_TRUE(OriginSizeFits(origin, 5 * kBlockSize, 5 * kBlockSize));
  EXPECT_TRUE(OriginSizeFits(origin, kBlockSize, kBlockSize)) << "cut to the valid size";
  EXPECT_FALSE(OriginSizeFits(origin, 2 * kBlockSize + 9, 5 * kBlockSize));
  EXPECT_FALSE(OriginSizeFits(origin, 5 * kBlockSize + 1, 5 * kBlockSize));

  EXPECT_TRUE(HoldsRecorded(origin, 1, recorded.data(), kBlockSize, value));
  EXPECT_FALSE(HoldsRecorded(origin, 1, valid.data(), kBlockSize, value));
  EXPECT_FALSE(HoldsRecorded(origin, 1, recorded.data(), 100, value)) << "the file ends inside the block";
  // The last block is taken over its recorded 10 bytes, padded: what follows them does not count.
  EXPECT_TRUE(HoldsRecorded(origin, 3, recorded.data(), kBlockSize, lastValue));
  EXPECT_TRUE(HoldsRecorded(origin, 4, valid.data(), 0, 0)) << "past the recorded size: the size alone";
  EXPECT_TRUE(HoldsRepairBlock(3, 2 * kBlockSize + 7, valid.data(), 7, valid.data())) << "a valid last block of 7 bytes";
  EXPECT_FALSE(HoldsRepairBlock(2, 2 * kBlockSize, valid.data(), 4000, valid.data()));

  // Carried blocks in ascending order: r holds its recorded value, v the valid block, b both,
  // n neither.
  const struct {
    const char* blocks;
    uint64_t failedAt;  // 0: holds
  } orders[] = {
      {"rrr", 0}, {"vvv", 0}, {"vvr", 0}, {"vnr", 0}, {"vvn", 0}, {"nrr", 0}, {"vbr", 0}, {"vrb", 0},
      {"rvr", 2},  // a valid block after one not yet written: no run writes so
      {"vnn", 3},  // a second torn block
      {"nrv", 3},  {"rnr", 2},
  };
  for (const auto& order : orders) {
    OriginCheck check;
    for (uint64_t b = 1; order.blocks[b - 1] != '\0'; ++b) {
      const char c = order.blocks[b - 1];
      check.Carried(b, c == 'r' || c == 'b', c == 'v' || c == 'b');
    }
    check.Sample(7, true);
    EXPECT_EQ(check.FailedAt(), order.failedAt) << order.blocks;
    EXPECT_EQ(check.Holds(), order.failedAt == 0) << order.blocks;
  }
  OriginCheck sampled;
  sampled.Sample(4, false);
  EXPECT_FALSE(sampled.Holds());
}

}  // namespace
