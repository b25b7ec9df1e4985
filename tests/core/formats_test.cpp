// The two exchange formats read and written field by field, in both forms, with the
// headers that must be refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/repair_file.h"
#include "core/test_file.h"
#include "tests/testing/scratch_folder.h"

namespace {

constexpr uint64_t k4GiB = uint64_t{1} << 32;

Bytes Le64(uint64_t value) { return Concat({Le32(static_cast<uint32_t>(value)), Le32(static_cast<uint32_t>(value >> 32))}); }

Bytes TestHeader(uint64_t size) {
  Bytes out(kLargeTestFileHeaderBytes);
  out.resize(StoreTestFileHeader(out.data(), size));
  return out;
}

Bytes RepairHeader(uint64_t size, uint32_t count) {
  Bytes out(kLargeRepairFileHeaderBytes);
  out.resize(StoreRepairFileHeader(out.data(), size, count));
  return out;
}

TEST(FormatsTest, TheSmallFormsBelowFourGiBAndTheLargeFormsFromThere) {
  EXPECT_TRUE(TestHeader(5) == Le32(5));
  EXPECT_TRUE(TestHeader(0xFFFFFFFE) == Le32(0xFFFFFFFE));
  EXPECT_TRUE(TestHeader(k4GiB + 5) == Concat({Le32(0xFFFFFFFF), Le64(k4GiB + 5)}));
  EXPECT_EQ(TestFileLength(0), 4u);
  EXPECT_EQ(TestFileLength(4097), 12u);
  // 4 GiB and one byte: 1048577 blocks.
  EXPECT_EQ(TestFileLength(k4GiB + 1), 12u + 4 * 1048577);

  EXPECT_TRUE(RepairHeader(10000, 3) == Concat({Le32(10000), Le32(3)}));
  EXPECT_TRUE(RepairHeader(k4GiB, 7) == Concat({Le32(0), Le32(7), Le64(k4GiB)}));

  // 0xFFFFFFFF is the large form's marker, and block numbers are 32-bit.
  EXPECT_TRUE(TestFileCanRecord(0xFFFFFFFE));
  EXPECT_FALSE(TestFileCanRecord(0xFFFFFFFF));
  EXPECT_TRUE(TestFileCanRecord(k4GiB));
  EXPECT_TRUE(TestFileCanRecord(kLargestExchangedSize));
  EXPECT_FALSE(TestFileCanRecord(kLargestExchangedSize + 1));
}

struct TestLayoutCase {
  const char* name;
  Bytes start;
  uint64_t length;
  bool largeAllowed;
  TestFileVerdict verdict;
  uint64_t recordedSize;
  uint64_t entries;
  uint32_t trailingBytes;
};

TEST(FormatsTest, TestFileLayouts) {
  const uint64_t large = k4GiB + 3 * 4096 + 100;  // 1048580 blocks
  const uint64_t largeLength = 12 + 4 * 1048580;
  const TestLayoutCase cases[] = {
      {"empty", {}, 0, true, TestFileVerdict::TooShort, 0, 0, 0},
      {"three bytes", {1, 2, 3}, 3, true, TestFileVerdict::TooShort, 0, 0, 0},
      {"size field alone", Le32(0), 4, false, TestFileVerdict::Read, 0, 0, 0},
      {"two entries and two bytes", Le32(9000), 14, false, TestFileVerdict::Read, 9000, 2, 2},
      // Below 4 GiB of valid file the marker is read as a size, as the dialog reads it.
      {"marker as a size", Le32(0xFFFFFFFF), 8, false, TestFileVerdict::Read, 0xFFFFFFFF, 1, 0},
      {"large form", Concat({Le32(0xFFFFFFFF), Le64(large)}), largeLength, true, TestFileVerdict::Read, large, 1048580, 0},
      {"large form cut short", Concat({Le32(0xFFFFFFFF), Le64(large)}), largeLength - 4, true,
       TestFileVerdict::LargeMalformed, 0, 0, 0},
      {"large form one entry long", Concat({Le32(0xFFFFFFFF), Le64(large)}), largeLength + 4, true,
       TestFileVerdict::LargeMalformed, 0, 0, 0},
      {"large form of a small size", Concat({Le32(0xFFFFFFFF), Le64(4096)}), 16, true, TestFileVerdict::LargeMalformed, 0, 0, 0},
      {"large form of a size too large", Concat({Le32(0xFFFFFFFF), Le64(kLargestExchangedSize + 1)}),
       12 + 4 * uint64_t{0x100000000}, true, TestFileVerdict::LargeMalformed, 0, 0, 0},
      {"marker and no size", Concat({Le32(0xFFFFFFFF), Le32(1)}), 8, true, TestFileVerdict::LargeMalformed, 0, 0, 0},
  };
  for (const TestLayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes start = c.start;
    start.resize(kLargeTestFileHeaderBytes, 0);
    TestFileLayout layout;
    ASSERT_EQ(ReadTestFileLayout(start.data(), c.length, c.largeAllowed, &layout), c.verdict);
    if (c.verdict != TestFileVerdict::Read) continue;
    EXPECT_EQ(layout.recordedSize, c.recordedSize);
    EXPECT_EQ(layout.entries, c.entries);
    EXPECT_EQ(layout.trailingBytes, c.trailingBytes);
    EXPECT_EQ(layout.headerBytes, layout.form == TestFileForm::Large ? 12u : 4u);
  }
}

TEST(FormatsTest, EntriesPastTheEndReadAsZeroAndAPartialEntryAsItsLowBytes) {
  const Bytes entries = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(TestFileEntry(entries.data(), 1, 6), 0x04030201u);
  EXPECT_EQ(TestFileEntry(entries.data() + 4, 2, 6), 0x00000605u);
  EXPECT_EQ(TestFileEntry(entries.data() + 8, 3, 6), 0u);
}

struct RepairLayoutCase {
  const char* name;
  Bytes start;
  uint64_t length;
  RepairFileVerdict verdict;
  uint64_t validSize;
  uint32_t count;
};

TEST(FormatsTest, RepairFileLayouts) {
  const uint64_t large = k4GiB + 1;
  const RepairLayoutCase cases[] = {
      {"seven bytes", Le32(100), 7, RepairFileVerdict::TooShort, 0, 0},
      {"K = 0", Concat({Le32(100), Le32(0)}), 8, RepairFileVerdict::Read, 100, 0},
      {"two blocks", Concat({Le32(9000), Le32(2)}), 8 + 2 * 4100, RepairFileVerdict::Read, 9000, 2},
      {"two blocks and bytes behind", Concat({Le32(9000), Le32(2)}), 9 + 2 * 4100, RepairFileVerdict::Read, 9000, 2},
      {"one byte short", Concat({Le32(9000), Le32(2)}), 7 + 2 * 4100, RepairFileVerdict::Incomplete, 0, 0},
      {"a count no file can hold", Concat({Le32(9000), Le32(0xFFFFFFFF)}), 1 << 20, RepairFileVerdict::Incomplete, 0, 0},
      {"large form", Concat({Le32(0), Le32(1), Le64(large)}), 16 + 4100, RepairFileVerdict::Read, large, 1},
      {"large form without its size", Concat({Le32(0), Le32(0)}), 8, RepairFileVerdict::LargeMalformed, 0, 0},
      {"large form of a small size", Concat({Le32(0), Le32(0), Le64(5000)}), 16, RepairFileVerdict::LargeMalformed, 0, 0},
      {"large form of a size too large", Concat({Le32(0), Le32(0), Le64(kLargestExchangedSize + 1)}), 16,
       RepairFileVerdict::LargeMalformed, 0, 0},
      {"large form cut short", Concat({Le32(0), Le32(2), Le64(large)}), 16 + 4100, RepairFileVerdict::LargeMalformed, 0, 0},
  };
  for (const RepairLayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes start = c.start;
    start.resize(kLargeRepairFileHeaderBytes, 0);
    RepairFileLayout layout;
    ASSERT_EQ(ReadRepairFileLayout(start.data(), c.length, &layout), c.verdict);
    if (c.verdict != RepairFileVerdict::Read) continue;
    EXPECT_EQ(layout.validSize, c.validSize);
    EXPECT_EQ(layout.damagedCount, c.count);
    EXPECT_EQ(layout.BlockNumbersAt(), layout.form == RepairFileForm::Large ? 16u : 8u);
    EXPECT_EQ(layout.RepairBlocksAt(), layout.BlockNumbersAt() + 4 * c.count);
  }
}

}  // namespace
