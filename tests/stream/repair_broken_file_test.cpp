// Broken-file repair: what ends up on disk, the repair files it refuses before the broken file
// is touched, and the files it cannot open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "stream/operations.h"
#include "tests/testing/engine_test.h"
#include "tests/testing/reference.h"

namespace {


constexpr uint32_t kBlock = 4096;

Bytes Zeros(size_t count) { return Bytes(count, 0); }

Bytes Overwrite(Bytes base, size_t at, const Bytes& part) {
  std::copy(part.begin(), part.end(), base.begin() + static_cast<std::ptrdiff_t>(at));
  return base;
}

// A repair file from its fields, without the checks the valid-file scan would make.
Bytes RepairFile(uint32_t validSize, const std::vector<uint32_t>& numbers, const std::vector<Bytes>& blocks) {
  Bytes file = Concat({Le32(validSize), Le32(static_cast<uint32_t>(numbers.size()))});
  for (uint32_t number : numbers) file = Concat({file, Le32(number)});
  for (const Bytes& block : blocks) file = Concat({file, block});
  return file;
}

class RepairTest : public EngineTest {
 protected:
  void Put(const Bytes& broken, const Bytes& repair) {
    scratch.Write("movie.avi", broken);
    scratch.Write("movie.fix", repair);
  }
  int Repair() {
    return Finished(Took(StreamRepairBrokenFile(scratch.Path("movie.avi").c_str(), scratch.Path("movie.fix").c_str(), {}, {})));
  }
  void ExpectBroken(const Bytes& contents) const {
    EXPECT_EQ(scratch.Size("movie.avi"), contents.size());
    EXPECT_TRUE(scratch.Read("movie.avi") == contents) << "broken file contents";
  }
  void ExpectRepairFile(const Bytes& contents) const {
    EXPECT_TRUE(ReadWholeFile(scratch.Path("movie.fix")) == contents) << "repair file contents";
  }
};

// ---- What the repair leaves on disk ----

struct OutcomeCase {
  std::string name;
  Bytes broken;
  Bytes repair;
  Bytes expected;
};

void PrintTo(const OutcomeCase& c, std::ostream* out) { *out << c.name; }

std::vector<OutcomeCase> OutcomeCases() {
  std::vector<OutcomeCase> cases;
  const Bytes x = RandomBytes(101, kBlock);
  const Bytes y = RandomBytes(102, kBlock);
  const Bytes z = RandomBytes(103, kBlock);
  {
    const Bytes broken = RandomBytes(1, 10000);
    cases.push_back({"SameSizeTakesCarriedBlockKeepsOthers", broken, RepairFile(10000, {2}, {x}),
                     Overwrite(broken, kBlock, x)});
    // The carried last block has bytes behind the valid size; only S bytes are written.
    cases.push_back({"SameSizeWritesOnlyUpToTheValidSize", broken, RepairFile(10000, {3}, {x}),
                     Overwrite(broken, 2 * kBlock, Part(x, 0, 10000 - 2 * kBlock))});
  }
  {
    const Bytes broken = RandomBytes(2, 5000);
    const uint32_t validSize = 4 * kBlock + 100;
    cases.push_back({"ShorterFileGrowsWithZerosInUncarriedBlocks", broken, RepairFile(validSize, {4}, {x}),
                     Concat({broken, Zeros(3 * kBlock - 5000), x, Zeros(100)})});
    cases.push_back({"EightBytesWithoutBlocksWriteBackOwnBytesGrown", broken, RepairFile(6000, {}, {}),
                     Concat({broken, Zeros(1000)})});
  }
  {
    const Bytes broken = RandomBytes(3, 7000);
    cases.push_back({"LongerFileIsCutToTheValidSize", broken, RepairFile(5000, {2}, {x}),
                     Concat({Part(broken, 0, kBlock), Part(x, 0, 5000 - kBlock)})});
    cases.push_back({"EightBytesWithoutBlocksCutALongerFile", broken, RepairFile(6500, {}, {}), Part(broken, 0, 6500)});
  }
  {
    const Bytes broken = RandomBytes(4, 2 * kBlock);
    cases.push_back({"LongerFileUpToTheBufferEndIsAcceptedAndCut", broken, RepairFile(5000, {1}, {x}),
                     Concat({x, Part(broken, kBlock, 5000)})});
  }
  {
    const Bytes broken = RandomBytes(5, 4 * kBlock);
    cases.push_back({"BlocksAppliedInListOrderNotSorted", broken, RepairFile(4 * kBlock, {3, 1, 4}, {x, y, z}),
                     Overwrite(Overwrite(Overwrite(broken, 2 * kBlock, x), 0, y), 3 * kBlock, z)});
    cases.push_back({"BlockListedTwiceEndsWithTheLaterBlock", broken, RepairFile(4 * kBlock, {2, 1, 2}, {x, y, z}),
                     Overwrite(Overwrite(broken, kBlock, z), 0, y)});
  }
  {
    // S = 8193: block 3 holds one byte and is still a block of the file.
    const Bytes broken = RandomBytes(6, 2 * kBlock + 1);
    cases.push_back({"LastBlockOfTheValidSizeIsAccepted", broken, RepairFile(2 * kBlock + 1, {3}, {x}),
                     Overwrite(broken, 2 * kBlock, Part(x, 0, 1))});
  }
  return cases;
}

class RepairOutcomeTest : public RepairTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(RepairOutcomeTest, RewritesTheBrokenFileInPlace) {
  const OutcomeCase& c = GetParam();
  // The hand-built expectation and the reference model must agree before either is trusted.
  ASSERT_TRUE(ReferenceRepairedFile(c.broken, c.repair) == c.expected);
  Put(c.broken, c.repair);

  EXPECT_EQ(Repair(), 1);
  ExpectBroken(c.expected);
  ExpectRepairFile(c.repair);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, RepairOutcomeTest, ::testing::ValuesIn(OutcomeCases()),
                         [](const ::testing::TestParamInfo<OutcomeCase>& info) { return info.param.name; });

// ---- Repair files that must never reach the broken file ----

struct HostileCase {
  std::string name;
  Bytes repair;
};

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

std::vector<HostileCase> HostileCases() {
  // Aimed at a broken file of 10000 bytes: S = 10000, N = 3.
  const Bytes x = RandomBytes(201, kBlock);
  const Bytes y = RandomBytes(202, kBlock);
  const Bytes good = RepairFile(10000, {1, 2}, {x, y});
  std::vector<HostileCase> cases;
  for (size_t length = 1; length < 8; ++length) {
    cases.push_back({"Length" + std::to_string(length), Part(good, 0, length)});
  }
  cases.push_back({"CountLargerThanTheEntries", Concat({Le32(10000), Le32(2), Le32(1), Le32(2), x})});
  cases.push_back({"LastBlockOneByteShort", Part(good, 0, good.size() - 1)});
  cases.push_back({"CountAllOnes", Concat({Le32(10000), Le32(0xFFFFFFFFu), Le32(1), x})});
  {
    // 8 + 4100 * K is 12 in 32 bits for this K: a length check that wraps lets K entries of
    // valid block numbers through and the copy then reads 4 GiB of blocks that are not there.
    const uint32_t count = 0x000FFC01;
    Bytes entries(size_t{count} * 4, 0);
    for (size_t j = 0; j < entries.size(); j += 4) entries[j] = 1;
    cases.push_back({"CountWrappingIn32Bits", Concat({Le32(10000), Le32(count), entries})});
  }
  cases.push_back({"BlockNumberZero", RepairFile(10000, {1, 0}, {x, y})});
  cases.push_back({"BlockNumberPastTheLastBlock", RepairFile(10000, {1, 4}, {x, y})});
  cases.push_back({"BlockNumberAllOnes", RepairFile(10000, {0xFFFFFFFFu}, {x})});
  return cases;
}

class HostileRepairFileTest : public RepairTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileRepairFileTest, IsRefusedBeforeTheBrokenFileIsTouched) {
  const Bytes broken = RandomBytes(20, 10000);
  Put(broken, GetParam().repair);

  EXPECT_EQ(Repair(), 0);
  ExpectFound(Step::CheckRepairFile);
  ExpectBroken(broken);
  ExpectRepairFile(GetParam().repair);
  EXPECT_EQ(ServiceCallCount(Service::WriteAt), 0u);
}

INSTANTIATE_TEST_SUITE_P(Refusals, HostileRepairFileTest, ::testing::ValuesIn(HostileCases()),
                         [](const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// Bytes behind the last repair block are the valid file's fingerprint: anything there but a
// whole part that holds, for this valid size, is refused before the broken file is touched.
TEST_F(RepairTest, ADamagedOrCutFingerprintIsRefusedBeforeTheBrokenFileIsTouched) {
  const Bytes valid = RandomBytes(21, 10000);
  const Bytes blocks = RepairFile(10000, {2}, {Part(valid, kBlock, 2 * kBlock)});
  const Bytes part = ReferenceFingerprintPart(valid);
  Bytes changed = part;
  changed[60] ^= 0x04;
  const struct {
    const char* name;
    Bytes behind;
  } cases[] = {
      // Would read as a further entry if K were taken from the length.
      {"a further entry", Concat({Le32(2), RandomBytes(22, kBlock)})},
      {"cut", Part(part, 0, part.size() - 1)},
      {"a hash changed", changed},
      {"another valid file's", ReferenceFingerprintPart(RandomBytes(23, 10001))},
  };
  const Bytes broken = RandomBytes(24, 10000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ForgetTaken();
    Put(broken, Concat({blocks, c.behind}));
    EXPECT_EQ(Repair(), 0);
    ExpectFound(Step::CheckFingerprint);
    ExpectBroken(broken);
    EXPECT_EQ(ServiceCallCount(Service::WriteAt), 0u);
    EXPECT_EQ(OpenFileCount(), 0u);
  }
}

// ---- Inputs the buffers cannot take ----

// A valid size of 0 is no file a scan describes: its first word reads as the large form's,
// which it is not either.
TEST_F(RepairTest, AValidSizeOfZeroIsRefused) {
  const Bytes broken = RandomBytes(0, 5000);
  const Bytes repair = RepairFile(0, {}, {});
  Put(broken, repair);
  EXPECT_EQ(Repair(), 0);
  ExpectFound(Step::CheckLargeRepairFile);
  ExpectBroken(broken);
  ExpectRepairFile(repair);
}

TEST_F(RepairTest, EmptyRepairFileFailsAtTheRepairBuffer) {
  const Bytes broken = RandomBytes(21, 5000);
  Put(broken, {});
  EXPECT_EQ(Repair(), 0);
  ExpectStop(Step::CommitRepairBuffer, SystemErrorKind::InvalidParameter);
  ExpectBroken(broken);
  EXPECT_EQ(scratch.Size("movie.fix"), 0u);
}

// A copy longer than the valid file (a recovered file rounded up, an append gone wrong) takes the
// repair file's blocks and is cut to the valid size.
TEST_F(RepairTest, BrokenFileLongerThanTheValidBlocksIsRepairedAndCut) {
  // S = 5000 gives 2 blocks; one byte more than they hold.
  const Bytes broken = RandomBytes(22, 2 * kBlock + 1);
  const Bytes block = RandomBytes(23, kBlock);
  const Bytes repair = RepairFile(5000, {1}, {block});
  Put(broken, repair);
  EXPECT_EQ(Repair(), 1);
  ExpectBroken(Concat({block, Part(broken, kBlock, 5000)}));
  ExpectRepairFile(repair);
}

// ---- Files the system will not open ----

enum class Obstacle { BrokenReadOnly, RepairReadOnly, BrokenMissing, RepairMissing };

struct OpenCase {
  const char* name;
  Obstacle obstacle;
  Step stop;
  SystemErrorKind kind;
};

TEST_F(RepairTest, FilesThatCannotBeOpenedAreRefusedAtTheirOpen) {
  const OpenCase cases[] = {
      {"read-only broken file", Obstacle::BrokenReadOnly, Step::OpenBroken, SystemErrorKind::AccessDenied},
      // Only read: repaired with (no stop).
      {"read-only repair file", Obstacle::RepairReadOnly, Step::OpenRepair, SystemErrorKind::AccessDenied},
      {"missing broken file", Obstacle::BrokenMissing, Step::OpenBroken, SystemErrorKind::FileNotFound},
      {"missing repair file", Obstacle::RepairMissing, Step::OpenRepair, SystemErrorKind::FileNotFound},
  };
  const Bytes broken = RandomBytes(24, 6000);
  const Bytes repair = RepairFile(6000, {2}, {RandomBytes(25, kBlock)});
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    const std::string brokenPath = folder.Path("movie.avi");
    const std::string repairPath = folder.Path("movie.fix");
    if (c.obstacle != Obstacle::BrokenMissing) folder.Write("movie.avi", broken);
    if (c.obstacle != Obstacle::RepairMissing) folder.Write("movie.fix", repair);
    if (c.obstacle == Obstacle::BrokenReadOnly) folder.MakeReadOnly("movie.avi");
    if (c.obstacle == Obstacle::RepairReadOnly) folder.MakeReadOnly("movie.fix");
    ForgetTaken();

    const Outcome result = Took(StreamRepairBrokenFile(brokenPath.c_str(), repairPath.c_str(), {}, {}));
    if (c.obstacle == Obstacle::RepairReadOnly) {
      EXPECT_EQ(result.ending, Ending::Done) << result;
      EXPECT_TRUE(folder.Read("movie.avi") == ReferenceRepairedFile(broken, repair));
      EXPECT_TRUE(folder.Read("movie.fix") == repair);
      continue;
    }
    EXPECT_EQ(Finished(result), 0);
    ExpectStop(c.stop, c.kind);
    if (c.obstacle != Obstacle::BrokenMissing) {
      EXPECT_TRUE(folder.Read("movie.avi") == broken);
    }
    if (c.obstacle != Obstacle::RepairMissing) {
      EXPECT_TRUE(folder.Read("movie.fix") == repair);
    }
  }
}

// A longer broken file is cut after its write; a failed cut is a failed write, and the file
// keeps the valid contents in front and its old tail behind them.
TEST_F(RepairTest, AFailedCutIsReportedAsTheWrite) {
  const Bytes broken = RandomBytes(33, 7000);
  const Bytes x = RandomBytes(34, kBlock);
  const Bytes repair = RepairFile(5000, {2}, {x});
  Put(broken, repair);
  InjectFault(Service::SetFileLength, 1, SystemErrorCode(SystemErrorKind::AccessDenied));

  EXPECT_EQ(Repair(), 0);
  ExpectStop(Step::WriteRepaired, SystemErrorKind::AccessDenied);
  ExpectBroken(Concat({Part(broken, 0, kBlock), Part(x, 0, 5000 - kBlock), Part(broken, 5000, 7000)}));
  ExpectRepairFile(repair);
  EXPECT_EQ(ServiceCallCount(Service::FlushFile), 0u);

}

}  // namespace
