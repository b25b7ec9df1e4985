// The whole exchange through real files: the broken side scans its copy, the valid side
// answers with a repair file, the broken side applies it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "stream/operations.h"
#include "tests/testing/engine_test.h"
#include "tests/testing/reference.h"

namespace {

constexpr uint32_t kBlock = 4096;

uint32_t Blocks(size_t size) { return static_cast<uint32_t>((size + kBlock - 1) / kBlock); }

// Random contents, a 32-bit draw for every four bytes.
Bytes Noise(std::mt19937& random, size_t count) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; i += 4) {
    const uint32_t word = static_cast<uint32_t>(random());
    for (size_t k = 0; k < 4 && i + k < count; ++k) bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
  }
  return bytes;
}

// Two places: the broken copy with its test file here, the valid copy and its repair file
// elsewhere, as on the two machines of a real exchange.
class ExchangeTest : public EngineTest {
 protected:
  void Put(const Bytes& valid, const Bytes& broken) {
    elsewhere.Write("movie.avi", valid);
    scratch.Write("movie.avi", broken);
  }
  int ScanBroken() { return Finished(Took(StreamScanBrokenFile(scratch.Path("movie.avi").c_str(), scratch.path().c_str(), {}))); }
  int ScanValid() {
    return Finished(Took(StreamScanValidFile(elsewhere.Path("movie.avi").c_str(), scratch.Path("movie.crc").c_str(),
                                             elsewhere.path().c_str(), {})));
  }
  int Repair() {
    return Finished(Took(StreamRepairBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.Path("movie.fix").c_str(), {}, {})));
  }
  Bytes Broken() const { return ReadWholeFile(scratch.Path("movie.avi")); }
  Bytes Fix() const { return ReadWholeFile(elsewhere.Path("movie.fix")); }

  ScratchFolder elsewhere;
};

// ---- Random damage, repaired ----

enum class Damage { None, FlipBytes, ZeroBlocks, Truncate, TruncateAndFlip, Extend, ExtendAndZero };

const char* DamageName(Damage damage) {
  switch (damage) {
    case Damage::None: return "Identical";
    case Damage::FlipBytes: return "FlippedBytes";
    case Damage::ZeroBlocks: return "ZeroedBlocks";
    case Damage::Truncate: return "Truncated";
    case Damage::TruncateAndFlip: return "TruncatedAndFlipped";
    case Damage::Extend: return "Extended";
    case Damage::ExtendAndZero: return "ExtendedAndZeroed";
  }
  return "?";
}

struct ExchangeCase {
  uint32_t size;
  Damage damage;
};

void PrintTo(const ExchangeCase& c, std::ostream* out) { *out << c.size << " " << DamageName(c.damage); }

struct Damaged {
  Bytes broken;
  std::set<uint32_t> blocks;  // block numbers changed in place, within the valid size
};

// Changes up to four bytes of a block in different byte lanes, so that the changes cannot
// cancel in the checksum and the block is always found.
void FlipInBlock(Bytes& file, uint32_t block, size_t within, std::mt19937& random) {
  const size_t start = size_t{block - 1} * kBlock;
  const size_t length = std::min<size_t>(kBlock, within - start);
  const size_t first = random() % length;
  for (size_t k = 0; k < 4 && first + k * 1001 < length; ++k) {
    file[start + first + k * 1001] ^= static_cast<uint8_t>(1 + random() % 255);
  }
}

void ZeroBlock(Bytes& file, uint32_t block, size_t within) {
  const size_t start = size_t{block - 1} * kBlock;
  std::fill(file.begin() + static_cast<std::ptrdiff_t>(start),
            file.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(start + kBlock, within)), 0);
}

Damaged Inflict(const Bytes& valid, Damage damage, std::mt19937& random) {
  Damaged d{valid, {}};
  const uint32_t blocks = Blocks(valid.size());
  switch (damage) {
    case Damage::None: break;
    case Damage::Truncate:
    case Damage::TruncateAndFlip: d.broken.resize(random() % valid.size()); break;
    case Damage::Extend:
    case Damage::ExtendAndZero: {
      const size_t room = size_t{blocks} * kBlock - valid.size();
      const Bytes tail = Noise(random, 1 + random() % room);
      d.broken.insert(d.broken.end(), tail.begin(), tail.end());
      break;
    }
    default: break;
  }
  const bool flip = damage == Damage::FlipBytes || damage == Damage::TruncateAndFlip;
  const bool zero = damage == Damage::ZeroBlocks || damage == Damage::ExtendAndZero;
  const size_t within = std::min(valid.size(), d.broken.size());
  const uint32_t reachable = Blocks(within);
  if ((flip || zero) && reachable > 0) {
    const uint32_t count = 1 + random() % std::min<uint32_t>(reachable, 6);
    while (d.blocks.size() < count) d.blocks.insert(1 + random() % reachable);
    for (uint32_t block : d.blocks) {
      if (flip) FlipInBlock(d.broken, block, within, random);
      if (zero) ZeroBlock(d.broken, block, within);
    }
  }
  return d;
}

std::vector<ExchangeCase> ExchangeCases() {
  const uint32_t sizes[] = {1, 4095, 4096, 4097, 8192, 3 * kBlock + 1, 65536 + 7};
  const Damage damages[] = {Damage::None,           Damage::FlipBytes, Damage::ZeroBlocks,   Damage::Truncate,
                            Damage::TruncateAndFlip, Damage::Extend,    Damage::ExtendAndZero};
  std::vector<ExchangeCase> cases;
  for (uint32_t size : sizes) {
    for (Damage damage : damages) {
      const bool extends = damage == Damage::Extend || damage == Damage::ExtendAndZero;
      // A file of whole blocks has no room to grow within its block count.
      if (extends && size % kBlock == 0) continue;
      cases.push_back({size, damage});
    }
  }
  // A few files of megabytes, with fewer kinds of damage each to keep the run short.
  cases.push_back({1u << 20, Damage::FlipBytes});
  cases.push_back({(1u << 20) + 4095, Damage::ZeroBlocks});
  cases.push_back({(1u << 20) + 4095, Damage::TruncateAndFlip});
  cases.push_back({(1u << 20) + 4095, Damage::ExtendAndZero});
  cases.push_back({3 * (1u << 20) + 1234, Damage::FlipBytes});
  cases.push_back({3 * (1u << 20) + 1234, Damage::Truncate});
  return cases;
}

class RandomExchangeTest : public ExchangeTest, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(RandomExchangeTest, LeavesTheBrokenFileEqualToTheValidOne) {
  const ExchangeCase& c = GetParam();
  std::mt19937 random(c.size * 31 + static_cast<uint32_t>(c.damage));
  const Bytes valid = Noise(random, c.size);
  const Damaged damaged = Inflict(valid, c.damage, random);
  Put(valid, damaged.broken);

  ASSERT_EQ(ScanBroken(), 1);
  const Bytes expectedFix = ReferenceRepairFile(valid, ReferenceTestFile(damaged.broken));

  if (c.damage == Damage::None) {
    EXPECT_EQ(ScanValid(), 0);
    ExpectIdentical();
    EXPECT_TRUE(Fix() == expectedFix) << "the proof of no blocks";
    ASSERT_EQ(Repair(), 1);
    EXPECT_TRUE(Broken() == valid);
    return;
  }
  ASSERT_FALSE(expectedFix.empty()) << "the damage must be one the checksums see";

  ASSERT_EQ(ScanValid(), 1);
  const Bytes fix = Fix();
  EXPECT_TRUE(fix == expectedFix);
  // Damage in place travels as exactly the damaged blocks.
  if (!damaged.blocks.empty() && damaged.broken.size() == valid.size()) {
    Bytes numbers;
    for (uint32_t block : damaged.blocks) numbers = Concat({numbers, Le32(block)});
    EXPECT_TRUE(Part(fix, 4, 8) == Le32(static_cast<uint32_t>(damaged.blocks.size())));
    EXPECT_TRUE(Part(fix, 8, 8 + numbers.size()) == numbers);
  }

  ASSERT_EQ(Repair(), 1);
  // Shorter, longer or of the same length, the broken file ends as the valid one.
  const Bytes repaired = Broken();
  EXPECT_EQ(repaired.size(), valid.size());
  EXPECT_TRUE(repaired == valid);
  EXPECT_TRUE(Fix() == fix);
}

INSTANTIATE_TEST_SUITE_P(Exchanges, RandomExchangeTest, ::testing::ValuesIn(ExchangeCases()),
                         [](const ::testing::TestParamInfo<ExchangeCase>& info) {
                           return "Size" + std::to_string(info.param.size) + DamageName(info.param.damage);
                         });

// ---- What the exchange cannot do ----

TEST_F(ExchangeTest, DamageThatKeepsTheChecksumStaysBehind) {
  const Bytes valid = RandomBytes(41, 3 * kBlock + 100);
  Bytes broken = valid;
  // Block 2: two words swapped, which the exclusive-or of the words cannot see.
  std::swap_ranges(broken.begin() + kBlock + 8, broken.begin() + kBlock + 12, broken.begin() + kBlock + 400);
  ASSERT_TRUE(Part(broken, kBlock, 2 * kBlock) != Part(valid, kBlock, 2 * kBlock));
  // Blocks 1 and 4 damaged the ordinary way.
  broken[5] ^= 0x40;
  broken[3 * kBlock + 50] ^= 0x01;
  Put(valid, broken);

  ASSERT_EQ(ScanBroken(), 1);
  ASSERT_EQ(ScanValid(), 1);
  const Bytes fix = Fix();
  EXPECT_TRUE(Part(fix, 4, 16) == Concat({Le32(2), Le32(1), Le32(4)}));
  // The fingerprint sees it: not done, but a file that still differs, in its one region.
  const Outcome differs = StreamRepairBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.Path("movie.fix").c_str(), {}, {});
  EXPECT_EQ(differs.ending, Ending::Differs);
  EXPECT_EQ(differs.differing, (std::vector<ByteRange>{{0, valid.size() - 1}}));
  EXPECT_EQ(differs.followUpPath, scratch.Path("movie.crc"));

  // Everything but block 2 is the valid file's; block 2 is still the damaged one.
  const Bytes repaired = Broken();
  ASSERT_EQ(repaired.size(), valid.size());
  EXPECT_TRUE(Part(repaired, 0, kBlock) == Part(valid, 0, kBlock));
  EXPECT_TRUE(Part(repaired, kBlock, 2 * kBlock) == Part(broken, kBlock, 2 * kBlock));
  EXPECT_TRUE(Part(repaired, 2 * kBlock, valid.size()) == Part(valid, 2 * kBlock, valid.size()));
}

// Matching checksums are not identical files: the repair file of no blocks written for them
// finds what the checksums cannot see, and the follow-up round repairs it.
TEST_F(ExchangeTest, OnlyUnseenDamageIsFoundByTheProofOfNoBlocksAndRepaired) {
  const Bytes valid = RandomBytes(42, 2 * kBlock);
  Bytes broken = valid;
  // The same bits flipped in two words of block 1.
  broken[17] ^= 0x21;
  broken[17 + 4 * 300] ^= 0x21;
  Put(valid, broken);

  ASSERT_EQ(ScanBroken(), 1);
  EXPECT_EQ(ScanValid(), 0);
  ExpectIdentical();
  EXPECT_TRUE(Part(Fix(), 0, 8) == Concat({Le32(2 * kBlock), Le32(0)})) << "no blocks, the fingerprint";
  const Outcome differs = StreamRepairBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.Path("movie.fix").c_str(), {}, {});
  EXPECT_EQ(differs.ending, Ending::Differs);
  EXPECT_FALSE(differs.brokenFileChanged);
  EXPECT_TRUE(Broken() == broken);

  ASSERT_EQ(ScanValid(), 1) << "the follow-up is answered";
  ASSERT_EQ(Repair(), 1);
  EXPECT_TRUE(Broken() == valid);
}

TEST_F(ExchangeTest, EmptyValidFileStopsAtTheValidScan) {
  for (uint32_t brokenSize : {0u, 5000u}) {
    SCOPED_TRACE(brokenSize);
    ForgetTaken();
    const Bytes broken = RandomBytes(43, brokenSize);
    Put({}, broken);
    ASSERT_EQ(ScanBroken(), 1);
    EXPECT_EQ(ScanValid(), 0);
    ExpectStop(Step::AllocateValid, SystemErrorKind::InvalidParameter);
    EXPECT_FALSE(elsewhere.Exists("movie.fix"));
    EXPECT_TRUE(Broken() == broken);
  }
}

}  // namespace

namespace {

TEST_F(ExchangeTest, CyrillicNamesTravelThroughEveryStep) {
  // UTF-8 in both builds: the names reach the file system through the same path buffers, and
  // on Windows as UTF-16.
  const std::string name = "Фильм 2.avi";
  const Bytes valid = RandomBytes(44, 3 * kBlock + 10);
  Bytes broken = valid;
  broken[kBlock + 5] ^= 0x40;
  elsewhere.Write(name, valid);
  scratch.Write(name, broken);

  ASSERT_EQ(StreamScanBrokenFile(scratch.Path(name).c_str(), scratch.path().c_str(), {}).ending, Ending::Done);
  EXPECT_EQ(ReadWholeFile(scratch.Path("Фильм 2.crc")), ReferenceTestFile(broken));
  ASSERT_EQ(StreamScanValidFile(elsewhere.Path(name).c_str(), scratch.Path("Фильм 2.crc").c_str(), elsewhere.path().c_str(), {})
                .ending,
            Ending::Done);
  ASSERT_EQ(StreamRepairBrokenFile(scratch.Path(name).c_str(), elsewhere.Path("Фильм 2.fix").c_str(), {}, {}).ending,
            Ending::Done);
  EXPECT_TRUE(ReadWholeFile(scratch.Path(name)) == valid);
}

}  // namespace

namespace {

// ---- Copies of different length: the rule, case by case ----

enum class Length { ShorterWithinABlock, ShorterByBlocks, Equal, LongerWithinTheLastBlock };
enum class Tail { Zeros, Erased, Cancelling, Random };

const char* LengthName(Length length) {
  switch (length) {
    case Length::ShorterWithinABlock: return "ShorterWithinABlock";
    case Length::ShorterByBlocks: return "ShorterByBlocks";
    case Length::Equal: return "Equal";
    case Length::LongerWithinTheLastBlock: return "LongerWithinTheLastBlock";
  }
  return "?";
}

const char* TailName(Tail tail) {
  switch (tail) {
    case Tail::Zeros: return "Zeros";
    case Tail::Erased: return "Erased";
    case Tail::Cancelling: return "Cancelling";
    case Tail::Random: return "Random";
  }
  return "?";
}

// Bytes of the tail's kind: zeros, erased flash (0xFF), pairs of equal words (every block of
// them checksums to 0), or random.
Bytes TailBytes(Tail tail, size_t count, uint32_t seed) {
  switch (tail) {
    case Tail::Zeros: return Bytes(count, 0);
    case Tail::Erased: return Bytes(count, 0xFF);
    case Tail::Cancelling: {
      const Bytes word = RandomBytes(seed, 4);
      Bytes bytes(count);
      for (size_t i = 0; i < count; ++i) bytes[i] = word[i % 4];
      return bytes;
    }
    case Tail::Random: return RandomBytes(seed, count);
  }
  return {};
}

struct LengthCase {
  Length length;
  Tail tail;
  bool entriesMatchSize;  // the test file has one entry per block of its recorded size
  bool damaged;           // one more block damaged in the front part
};

void PrintTo(const LengthCase& c, std::ostream* out) {
  *out << LengthName(c.length) << " " << TailName(c.tail) << (c.entriesMatchSize ? "" : " other entry count")
       << (c.damaged ? " damaged" : "");
}

std::vector<LengthCase> LengthCases() {
  std::vector<LengthCase> cases;
  for (Length length :
       {Length::ShorterWithinABlock, Length::ShorterByBlocks, Length::Equal, Length::LongerWithinTheLastBlock}) {
    for (Tail tail : {Tail::Zeros, Tail::Erased, Tail::Cancelling, Tail::Random}) {
      for (bool entriesMatchSize : {true, false}) {
        for (bool damaged : {false, true}) cases.push_back({length, tail, entriesMatchSize, damaged});
      }
    }
  }
  return cases;
}

class LengthRuleTest : public ExchangeTest, public ::testing::WithParamInterface<LengthCase> {};

// Two random blocks, then a tail of two blocks and 1000 bytes: S = 17384, N = 5. The broken
// copy is cut short, whole, or 8 bytes longer (more of the tail's kind), perhaps with block 1
// damaged; its test file is the scan's own or has one entry less (one more, zero, where the
// copy is shorter by blocks). Whatever the case, the repair gives back the valid file byte for
// byte, and "identical" is said exactly when the test file describes the valid file itself.
TEST_P(LengthRuleTest, RepairGivesBackTheValidFileAndIdenticalMeansEqual) {
  const LengthCase& c = GetParam();
  const Bytes valid = Concat({RandomBytes(61, 2 * kBlock), TailBytes(c.tail, 2 * kBlock + 1000, 62)});
  const size_t validBlocks = Blocks(valid.size());
  Bytes broken;
  switch (c.length) {
    case Length::ShorterWithinABlock: broken = Part(valid, 0, valid.size() - 500); break;
    case Length::ShorterByBlocks: broken = Part(valid, 0, 2 * kBlock); break;
    case Length::Equal: broken = valid; break;
    case Length::LongerWithinTheLastBlock: broken = Concat({valid, TailBytes(c.tail, 8, 62)}); break;
  }
  if (c.damaged) broken[100] ^= 0x24;
  Put(valid, broken);
  ASSERT_EQ(ScanBroken(), 1);

  if (!c.entriesMatchSize) {
    Bytes testFile = ReadWholeFile(scratch.Path("movie.crc"));
    if (c.length == Length::ShorterByBlocks) {
      testFile.resize(4 + 4 * validBlocks, 0);
    } else {
      testFile.resize(testFile.size() - 4);
    }
    scratch.Write("movie.crc", testFile);
  }
  const Bytes testFile = ReadWholeFile(scratch.Path("movie.crc"));
  const bool identical = broken == valid && c.entriesMatchSize;

  ForgetTaken();
  const int scanned = ScanValid();
  EXPECT_TRUE(ReadWholeFile(elsewhere.Path("movie.avi")) == valid);
  if (identical) {
    EXPECT_EQ(scanned, 0);
    ExpectIdentical();
    EXPECT_TRUE(ReferenceChecksumsMatch(valid, testFile));
    EXPECT_TRUE(Fix() == ReferenceRepairFile(valid, testFile)) << "the proof of no blocks";
    return;
  }
  ASSERT_EQ(scanned, 1);
  const Bytes fix = Fix();
  EXPECT_TRUE(fix == ReferenceRepairFile(valid, testFile));

  ASSERT_EQ(Repair(), 1);
  const Bytes repaired = Broken();
  EXPECT_EQ(repaired.size(), valid.size());
  EXPECT_TRUE(repaired == valid);
  EXPECT_TRUE(Fix() == fix);
}

INSTANTIATE_TEST_SUITE_P(Rule, LengthRuleTest, ::testing::ValuesIn(LengthCases()),
                         [](const ::testing::TestParamInfo<LengthCase>& info) {
                           const LengthCase& c = info.param;
                           return std::string(LengthName(c.length)) + TailName(c.tail) +
                                  (c.entriesMatchSize ? "" : "OtherEntryCount") + (c.damaged ? "Damaged" : "");
                         });

// The case as a user met it: 8 KiB of data and 8 KiB of erased flash, the copy cut after the
// data and damaged in one block. Its whole tail travels and the repair is exact.
TEST_F(ExchangeTest, AnErasedTailBehindACutShortCopyTravels) {
  const Bytes valid = Concat({RandomBytes(63, 2 * kBlock), Bytes(2 * kBlock, 0xFF)});
  Bytes broken = Part(valid, 0, 2 * kBlock);
  broken[kBlock + 7] ^= 0x01;
  Put(valid, broken);

  ASSERT_EQ(ScanBroken(), 1);
  ASSERT_EQ(ScanValid(), 1);
  EXPECT_TRUE(Part(Fix(), 0, 20) == Concat({Le32(4 * kBlock), Le32(3), Le32(2), Le32(3), Le32(4)}));
  ASSERT_EQ(Repair(), 1);
  EXPECT_TRUE(Broken() == valid);

  // The closing check: scanned again, the repaired copy is identical.
  ASSERT_EQ(ScanBroken(), 1);
  EXPECT_EQ(ScanValid(), 0);
  ExpectIdentical();
}

}  // namespace
