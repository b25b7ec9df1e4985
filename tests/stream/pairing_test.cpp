// A repair file applied to a file it was not made for is refused before the first write, by
// both engines; the file an earlier, interrupted run of the same repair left is finished.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/stream/stream_test.h"
#include "tests/testing/reference.h"

namespace {

constexpr uint32_t kBlock = 4096;

// Bytes of the file with bytes of another copy in place over [from, to).
Bytes Over(const Bytes& file, const Bytes& other, size_t from, size_t to) {
  Bytes result = file;
  std::copy(other.begin() + static_cast<std::ptrdiff_t>(from), other.begin() + static_cast<std::ptrdiff_t>(to),
            result.begin() + static_cast<std::ptrdiff_t>(from));
  return result;
}

// The file with a byte of each of these blocks changed, away from where WithDamage changes it.
Bytes Edited(const Bytes& file, std::initializer_list<uint64_t> blocks) {
  Bytes result = file;
  for (const uint64_t b : blocks) result[(b - 1) * kBlock + 100] ^= 0x33;
  return result;
}

class PairingTest : public StreamTest {};

TEST_F(PairingTest, AWrongPairingIsRefusedAndAnInterruptedRunIsFinished) {
  // 40 blocks and a bit; the broken copy differs in blocks 3, 17 and 30.
  const Bytes valid = RandomBytes(301, 40 * kBlock + 123);
  const Bytes broken = WithDamage(valid, {3, 17, 30});
  const Bytes fix = ReferenceRepairFile(valid, ReferenceTestFile(broken));
  // The valid file edited in two carried blocks after that exchange, and repaired by a newer one.
  const Bytes newer = Edited(valid, {3, 17});
  const struct {
    const char* name;
    Bytes before;
    bool refused;
  } cases[] = {
      {"another file of the same size", RandomBytes(302, valid.size()), true},
      {"the file edited after its test file, in two carried blocks", Edited(broken, {3, 17}), true},
      {"the file cut short since", Bytes(broken.begin(), broken.begin() + 20 * kBlock), true},
      {"the older of two exchanges, after the newer", newer, true},
      // Block 3 put in place, block 17 torn half way, block 30 not reached: finished.
      {"a rerun after a kill", Over(Over(broken, valid, 2 * kBlock, 3 * kBlock), valid, 16 * kBlock, 16 * kBlock + 2048), false},
      {"a rerun after a complete run", valid, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearFaults();
    scratch.Write("report.bin", c.before);
    elsewhere.Write("report.fix", fix);
    const std::string path = scratch.Path("report.bin"), repair = elsewhere.Path("report.fix");
    const Outcome result = StreamRepairBrokenFile(path.c_str(), repair.c_str(), RepairOptions{}, {});
    if (c.refused) {
      EXPECT_EQ(result.ending, Ending::OtherFile) << result;
      EXPECT_TRUE(scratch.Read("report.bin") == c.before);
      EXPECT_EQ(ServiceCallCount(Service::WriteAt), 0u);
    } else {
      EXPECT_EQ(result.ending, Ending::Done) << result;
      EXPECT_EQ(result.verification, Verification::Verified);
      EXPECT_TRUE(scratch.Read("report.bin") == valid);
    }
    EXPECT_EQ(FolderEntries(scratch.path()), std::vector<std::string>{"report.bin"});
  }
}

// The record tells the size and the block it stopped at; a repair file without it is applied as
// before, and one of the same exchange applied with its check passes.
TEST_F(PairingTest, TheRefusalSaysWhereAndARepairFileWithoutTheRecordIsAppliedAsBefore) {
  const Bytes valid = RandomBytes(303, 8 * kBlock);
  const Bytes broken = WithDamage(valid, {2, 6});
  const Bytes fix = ReferenceRepairFile(valid, ReferenceTestFile(broken));
  elsewhere.Write("report.fix", fix);
  scratch.Write("report.bin", Bytes(3 * kBlock, 7));
  Outcome result = StreamRepairBrokenFile(scratch.Path("report.bin").c_str(), elsewhere.Path("report.fix").c_str(), {}, {});
  ASSERT_EQ(result.ending, Ending::OtherFile);
  EXPECT_EQ(result.check.finding, CheckFinding::SizeDiffers);
  EXPECT_EQ(result.check.brokenSize, 3u * kBlock);
  EXPECT_EQ(result.check.recordedSize, valid.size());

  scratch.Write("report.bin", Edited(broken, {2, 6}));
  result = StreamRepairBrokenFile(scratch.Path("report.bin").c_str(), elsewhere.Path("report.fix").c_str(), {}, {});
  ASSERT_EQ(result.ending, Ending::OtherFile);
  EXPECT_EQ(result.check.finding, CheckFinding::BlockDiffers);
  EXPECT_EQ(result.check.block, 6u);
  EXPECT_EQ(result.check.first, 5u * kBlock);

  // The blocks alone, as an earlier version wrote them: applied unchecked, as before.
  elsewhere.Write("report.fix", Bytes(fix.begin(), fix.begin() + 8 + 2 * 4100));
  result = StreamRepairBrokenFile(scratch.Path("report.bin").c_str(), elsewhere.Path("report.fix").c_str(), {}, {});
  EXPECT_EQ(result.ending, Ending::Done);
  EXPECT_EQ(result.verification, Verification::NoFingerprint);

  // The same with its check: read once for the check, applied, and still not verified.
  scratch.Write("report.bin", broken);
  scratch.Write("report.crc", ReferenceTestFile(broken));
  result = StreamRepairBrokenFile(scratch.Path("report.bin").c_str(), elsewhere.Path("report.fix").c_str(),
                                  RepairOptions{.checkFilePath = scratch.Path("report.crc").c_str()}, {});
  EXPECT_EQ(result.ending, Ending::Done) << result;
  EXPECT_EQ(result.verification, Verification::NoFingerprint);
  EXPECT_TRUE(scratch.Read("report.bin") == valid);
}

}  // namespace
