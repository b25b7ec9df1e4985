// The streaming operations against an independent model of the exchange
// (tests/testing/reference.h): the test files and repair files they write must be the model's
// byte for byte, the broken file must end as the model's repair leaves it, and what they refuse
// must leave it untouched. The inputs are edge cases and random ones: sizes around block
// boundaries, damage of every kind, copies of different length, and test files and repair files
// damaged in transit.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/byte_order.h"
#include "tests/stream/stream_test.h"
#include "tests/testing/reference.h"

namespace {

constexpr uint32_t kBlock = 4096;

Bytes Noise(std::mt19937& random, size_t count) {
  Bytes bytes(count);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

// One input: the two copies, and optionally a test file or a repair file other than the one
// the scans make (damaged in transit, or made for another file).
struct Input {
  std::string name;
  Bytes valid;
  Bytes broken;
  bool replaceTestFile = false;
  Bytes testFile;
  // The replacement is the copy's own test file cut short: the exchange must still restore.
  bool testFileCutShort = false;
  bool replaceRepairFile = false;
  Bytes repairFile;
};

Input Copies(const std::string& name, const Bytes& valid, const Bytes& broken) {
  Input input;
  input.name = name;
  input.valid = valid;
  input.broken = broken;
  return input;
}

// Whether the valid-file scan answers a test file: one that holds a size, in the small form
// (the scan refuses a large form's marker it cannot read).
bool TestFileFits(const Bytes& testFile) {
  return testFile.size() >= 4 && !(testFile[0] == 0xFF && testFile[1] == 0xFF && testFile[2] == 0xFF && testFile[3] == 0xFF);
}

class DifferentialTest : public StreamTest {
 protected:
  // Runs the three steps and compares each with the model.
  void Compare(const Input& input) {
    SCOPED_TRACE(input.name);
    ScratchFolder side;
    side.Write("copy.bin", input.broken);
    side.Write("valid.bin", input.valid);
    const StreamControl none;

    ASSERT_EQ(StreamScanBrokenFile(side.Path("copy.bin").c_str(), side.path().c_str(), none).ending, Ending::Done);
    ASSERT_TRUE(side.Read("copy.crc") == ReferenceTestFile(input.broken));
    if (input.replaceTestFile) side.Write("copy.crc", input.testFile);
    const Bytes testFile = side.Read("copy.crc");

    const Outcome fixed =
        StreamScanValidFile(side.Path("valid.bin").c_str(), side.Path("copy.crc").c_str(), side.path().c_str(), none);
    const bool fits = !input.valid.empty() && TestFileFits(testFile);
    if (!fits) {
      EXPECT_EQ(fixed.ending, Ending::Stopped) << fixed;
      EXPECT_FALSE(side.Exists("valid.fix"));
      return;
    }
    const Bytes expected = ReferenceRepairFile(input.valid, testFile);
    ASSERT_EQ(fixed.ending, ReferenceChecksumsMatch(input.valid, testFile) ? Ending::Identical : Ending::Done) << fixed;
    EXPECT_TRUE(side.Read("valid.fix") == expected);
    if (input.replaceRepairFile) side.Write("valid.fix", input.repairFile);
    const Bytes repairFile = side.Read("valid.fix");

    const Outcome repaired =
        StreamRepairBrokenFile(side.Path("copy.bin").c_str(), side.Path("valid.fix").c_str(), RepairOptions{}, none);
    if (repaired.ending == Ending::Done) {
      EXPECT_TRUE(side.Read("copy.bin") == ReferenceRepairedFile(input.broken, repairFile));
    } else {
      EXPECT_FALSE(repaired.brokenFileChanged) << repaired;
      EXPECT_TRUE(side.Read("copy.bin") == input.broken);
    }
    if (!input.replaceRepairFile && (!input.replaceTestFile || input.testFileCutShort)) {
      EXPECT_EQ(repaired.ending, Ending::Done) << repaired;
      EXPECT_TRUE(side.Read("copy.bin") == input.valid) << "the exchange did not restore the valid file";
    }
    EXPECT_EQ(FolderEntries(side.path()), (std::vector<std::string>{"copy.bin", "copy.crc", "valid.bin", "valid.fix"}));
  }

  // A repair file damaged in transit or made for another file: refused, or applied as the model
  // applies it.
  void CompareRepairFile(const std::string& name, const Bytes& valid, const Bytes& broken, const Bytes& repairFile) {
    Input input = Copies(name, valid, broken);
    input.replaceRepairFile = true;
    input.repairFile = repairFile;
    Compare(input);
  }
};

// Sizes around block boundaries, with the copy shorter, equal or longer.
TEST_F(DifferentialTest, EdgeSizesAndLengths) {
  std::mt19937 random(7);
  const size_t sizes[] = {1, 4095, 4096, 4097, 8192, 3 * kBlock + 5};
  for (const size_t size : sizes) {
    const Bytes valid = Noise(random, size);
    for (const long delta : {-4097L, -4096L, -1L, 0L, 1L, 100L, 4096L}) {
      if (static_cast<long>(size) + delta < 0) continue;
      Bytes broken = valid;
      broken.resize(static_cast<size_t>(static_cast<long>(size) + delta), 0x77);
      Compare(Copies("size " + std::to_string(size) + " delta " + std::to_string(delta), valid, broken));
    }
  }
  Compare(Copies("empty copy", Noise(random, 5000), {}));
}

// Tails that checksum to 0 where the copy is cut short: erased flash (0xFF), pairs of equal
// words, zeros.
TEST_F(DifferentialTest, TailsThatChecksumToZero) {
  std::mt19937 random(8);
  const Bytes head = Noise(random, 2 * kBlock);
  const Bytes ff(2 * kBlock, 0xFF);
  Bytes pairs(2 * kBlock, 0);
  for (size_t i = 0; i < pairs.size(); i += 8) {
    for (size_t k = 0; k < 4; ++k) pairs[i + k] = pairs[i + 4 + k] = static_cast<uint8_t>(i + k);
  }
  for (const Bytes* tail : std::vector<const Bytes*>{&ff, &pairs}) {
    Bytes valid = Concat({head, *tail});
    Compare(Copies("tail cut", valid, head));
    Compare(Copies("tail cut mid-block", valid, Part(valid, 0, 2 * kBlock + 100)));
    Bytes damaged = head;
    damaged[5] ^= 1;
    Compare(Copies("tail cut and damaged", valid, damaged));
  }
  Compare(Copies("zero tail cut", Concat({head, Bytes(kBlock, 0)}), head));
}

// Test files and repair files damaged in transit or made for another file.
TEST_F(DifferentialTest, ForeignAndDamagedExchangeFiles) {
  std::mt19937 random(9);
  const Bytes valid = Noise(random, 5 * kBlock + 300);
  Bytes broken = valid;
  broken[kBlock + 3] ^= 0x10;
  broken[4 * kBlock] ^= 0x01;
  const auto withTest = [&](const std::string& name, const Bytes& test) {
    Input input = Copies(name, valid, broken);
    input.replaceTestFile = true;
    input.testFile = test;
    Compare(input);
  };
  const auto withRepair = [&](const std::string& name, const Bytes& repair) { CompareRepairFile(name, valid, broken, repair); };
  for (const size_t length : {0, 1, 3, 4, 5, 7, 8, 11, 24, 25, 28, 29, 32}) {
    withTest("test file of " + std::to_string(length) + " bytes", Noise(random, length));
  }
  withTest("test file with the size field changed", Concat({Le32(12345), Bytes(24, 0)}));
  withTest("test file starting with 0xFFFFFFFF", Concat({Le32(0xFFFFFFFF), Noise(random, 16)}));
  const Bytes block = Noise(random, kBlock);
  withRepair("empty repair file", {});
  withRepair("repair file of 7 bytes", Noise(random, 7));
  withRepair("K = 0", Concat({Le32(9000), Le32(0)}));
  withRepair("K = 0 and a size of 0", Concat({Le32(0), Le32(0)}));
  withRepair("block number 0", Concat({Le32(9000), Le32(1), Le32(0), block}));
  withRepair("block number past the end", Concat({Le32(9000), Le32(1), Le32(4), block}));
  withRepair("truncated block", Concat({Le32(9000), Le32(1), Le32(2), Part(block, 0, 100)}));
  withRepair("huge count", Concat({Le32(9000), Le32(0xFFFFFFFF), Le32(1), block}));
  withRepair("same block twice", Concat({Le32(9000), Le32(2), Le32(2), Le32(2), block, Noise(random, kBlock)}));
  withRepair("descending numbers and bytes behind", Concat({Le32(9000), Le32(2), Le32(3), Le32(1), block, block, Bytes(9, 1)}));
  withRepair("valid size shorter than the copy's blocks", Concat({Le32(100), Le32(1), Le32(1), block}));
  withRepair("valid size far beyond the copy", Concat({Le32(50 * kBlock + 1), Le32(1), Le32(51), block}));
}

// A test file cut in transit: its size field says 3 blocks, its entries cover 2. The copy's
// third block differs where the valid file has zeros, which an entry taken as 0 would hide.
TEST_F(DifferentialTest, ATestFileCutShortStillRestoresTheCopy) {
  std::mt19937 random(12);
  const Bytes valid = Concat({Noise(random, 2 * kBlock), Bytes(kBlock, 0)});
  for (const size_t copySize : {3 * kBlock, 2 * kBlock + 1}) {
    Bytes broken = Part(valid, 0, copySize);
    broken[copySize - 1] = 0x42;
    Input input = Copies("copy of " + std::to_string(copySize) + " bytes", valid, broken);
    input.replaceTestFile = true;
    input.testFileCutShort = true;
    input.testFile = Part(ReferenceTestFile(broken), 0, 12);
    Compare(input);
  }
}

// Output folders that cannot take the output: missing, a file, or (POSIX, not root; Windows
// takes a folder's read-only mark as no bar to new files) one the user may not write to; the
// stop at the output, with the reason of the call that failed.
TEST_F(DifferentialTest, OutputFoldersThatCannotTakeTheOutput) {
  scratch.Write("copy.bin", RandomBytes(11, 3 * kBlock));
  scratch.Write("plain.txt", {1});
  const std::string locked = scratch.MakeFolder("locked");
  scratch.MakeReadOnly("locked");
  struct Case {
    std::string folder;
    SystemErrorKind error;
  };
  std::vector<Case> cases = {{scratch.Path("missing"), SystemErrorKind::PathNotFound},
                             {scratch.Path("plain.txt"), SystemErrorKind::PathNotFound}};
#ifndef _WIN32
  cases[1].error = SystemErrorKind::NotFolder;
  if (geteuid() != 0) cases.push_back({locked, SystemErrorKind::AccessDenied});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    const Outcome stream = StreamScanBrokenFile(scratch.Path("copy.bin").c_str(), c.folder.c_str(), StreamControl{});
    EXPECT_EQ(stream.ending, Ending::Stopped);
    EXPECT_EQ(stream.step, Step::CreateOutput);
    EXPECT_EQ(stream.systemError, SystemErrorCode(c.error)) << SystemText(stream.systemError);
  }
  EXPECT_EQ(FolderEntries(scratch.path()), (std::vector<std::string>{"copy.bin", "locked", "plain.txt"}));
}

// Random copies, damage and lengths.
TEST_F(DifferentialTest, RandomExchanges) {
  std::mt19937 random(10);
  for (int round = 0; round < 120; ++round) {
    const size_t size = 1 + random() % (12 * kBlock);
    const Bytes valid = Noise(random, size);
    Bytes broken = valid;
    const int kind = static_cast<int>(random() % 5);
    const int changes = static_cast<int>(random() % 6);
    for (int i = 0; i < changes && !broken.empty(); ++i) broken[random() % broken.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    if (kind == 1) broken.resize(random() % (size + 1));
    if (kind == 2) broken.resize(size + 1 + random() % (2 * kBlock), static_cast<uint8_t>(random()));
    if (kind == 3) {
      // A zeroed run, as a disk's unreadable sectors come back.
      const size_t from = random() % size;
      std::fill(broken.begin() + static_cast<std::ptrdiff_t>(from),
                broken.begin() + static_cast<std::ptrdiff_t>(std::min(size, from + random() % (3 * kBlock))), 0);
    }
    Compare(Copies("round " + std::to_string(round), valid, broken));
  }
}

}  // namespace
