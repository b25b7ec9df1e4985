// Files of 4 GiB and more, on sparse files: the large forms field by field, and the whole
// exchange through them. Only a few blocks of each file hold data; the rest are holes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/byte_order.h"
#include "core/test_file.h"
#include "tests/stream/stream_test.h"
#include "tests/testing/reference.h"

namespace {

constexpr uint64_t kBlock = 4096;
constexpr uint64_t k4GiB = uint64_t{1} << 32;
// 4 GiB, three whole blocks and 100 bytes: 1048580 blocks.
constexpr uint64_t kSize = k4GiB + 3 * kBlock + 100;
constexpr uint64_t kBlocks = (kSize + kBlock - 1) / kBlock;

uint32_t U32At(const Bytes& bytes, size_t at) { return LoadU32LE(bytes.data() + at); }
uint64_t U64At(const Bytes& bytes, size_t at) { return U32At(bytes, at) | uint64_t{U32At(bytes, at + 4)} << 32; }

class LargeFormsTest : public StreamTest {
 protected:
  // A sparse file of kSize bytes with data in the given blocks (1-based; the last one holds
  // its 100 bytes).
  void MakeSparse(const ScratchFolder& folder, const std::string& name, uint32_t seed,
                  std::initializer_list<uint64_t> blocks) {
    folder.Resize(name, kSize);
    for (const uint64_t b : blocks) {
      const uint64_t at = (b - 1) * kBlock;
      WriteBytesAt(folder.Path(name), at, RandomBytes(seed + static_cast<uint32_t>(b), std::min(kBlock, kSize - at)));
    }
  }
};

TEST_F(LargeFormsTest, TheExchangeGoesThroughBothLargeFormsFieldByField) {
  // Data near the start and past 4 GiB; the broken copy differs in blocks 2 and kBlocks - 1
  // and lacks the data of the last block.
  MakeSparse(elsewhere, "disk.img", 1, {1, 2, kBlocks - 2, kBlocks - 1, kBlocks});
  MakeSparse(scratch, "disk.img", 1, {1, kBlocks - 2});
  WriteBytesAt(scratch.Path("disk.img"), kBlock, RandomBytes(99, kBlock));
  const StreamControl none;

  const Outcome scan = StreamScanBrokenFile(scratch.Path("disk.img").c_str(), scratch.path().c_str(), none);
  ASSERT_EQ(scan.ending, Ending::Done);
  const Bytes test = scratch.Read("disk.crc");
  ASSERT_EQ(test.size(), 12 + 4 * kBlocks);
  EXPECT_EQ(scan.outputBytes, test.size());
  EXPECT_EQ(U32At(test, 0), 0xFFFFFFFFu);
  EXPECT_EQ(U64At(test, 4), kSize);
  // Entries: block 1 and block kBlocks - 2 hold data, the holes give 0.
  const Bytes first = ReadBytesAt(scratch.Path("disk.img"), 0, kBlock);
  EXPECT_EQ(U32At(test, 12), ReferenceChecksum(first, 0));
  EXPECT_EQ(U32At(test, 12 + 4 * 2), 0u);
  const Bytes late = ReadBytesAt(scratch.Path("disk.img"), (kBlocks - 3) * kBlock, kBlock);
  EXPECT_EQ(U32At(test, 12 + 4 * (kBlocks - 3)), ReferenceChecksum(late, 0));
  EXPECT_NE(U32At(test, 12 + 4 * (kBlocks - 3)), 0u);
  EXPECT_EQ(U32At(test, 12 + 4 * (kBlocks - 1)), 0u);

  const Outcome fix = StreamScanValidFile(elsewhere.Path("disk.img").c_str(), scratch.Path("disk.crc").c_str(),
                                               elsewhere.path().c_str(), none);
  ASSERT_EQ(fix.ending, Ending::Done);
  EXPECT_EQ(fix.blocks, (std::vector<uint32_t>{2, static_cast<uint32_t>(kBlocks - 1), static_cast<uint32_t>(kBlocks)}));
  const Bytes repair = elsewhere.Read("disk.fix");
  // Behind the blocks, the fingerprint of 4097 regions of 1 MiB, with the test file's entries of
  // the three blocks carried and of 64 sampled.
  ASSERT_EQ(repair.size(), 16 + 4100 * 3u + 128 + 16 * 4097 + 4 * 3 + 8 * 64);
  EXPECT_EQ(fix.outputBytes, repair.size());
  EXPECT_EQ(U32At(repair, 0), 0u);
  EXPECT_EQ(U32At(repair, 4), 3u);
  EXPECT_EQ(U64At(repair, 8), kSize);
  EXPECT_EQ(U32At(repair, 16), 2u);
  EXPECT_EQ(U32At(repair, 20), kBlocks - 1);
  EXPECT_EQ(U32At(repair, 24), kBlocks);
  const std::string valid = elsewhere.Path("disk.img");
  EXPECT_TRUE(Part(repair, 28, 28 + kBlock) == ReadBytesAt(valid, kBlock, kBlock));
  EXPECT_TRUE(Part(repair, 28 + kBlock, 28 + 2 * kBlock) == ReadBytesAt(valid, (kBlocks - 2) * kBlock, kBlock));
  // The last block: its 100 bytes, then zeros.
  Bytes last = ReadBytesAt(valid, (kBlocks - 1) * kBlock, kBlock);
  ASSERT_EQ(last.size(), 100u);
  last.resize(kBlock, 0);
  EXPECT_TRUE(Part(repair, 28 + 2 * kBlock, 28 + 3 * kBlock) == last);

  const Outcome repaired = StreamRepairBrokenFile(scratch.Path("disk.img").c_str(), elsewhere.Path("disk.fix").c_str(),
                                                       RepairOptions{.checkFilePath = scratch.Path("disk.crc").c_str()}, none);
  ASSERT_EQ(repaired.ending, Ending::Done);
  EXPECT_EQ(repaired.verification, Verification::Verified);
  EXPECT_EQ(scratch.Size("disk.img"), kSize);
  for (const uint64_t b : {uint64_t{1}, uint64_t{2}, kBlocks - 2, kBlocks - 1, kBlocks}) {
    EXPECT_TRUE(ReadBytesAt(scratch.Path("disk.img"), (b - 1) * kBlock, kBlock) == ReadBytesAt(valid, (b - 1) * kBlock, kBlock))
        << "block " << b;
  }
  const Outcome again = StreamScanBrokenFile(scratch.Path("disk.img").c_str(), scratch.path().c_str(), none);
  ASSERT_EQ(again.ending, Ending::Done);
  EXPECT_EQ(StreamScanValidFile(valid.c_str(), scratch.Path("disk.crc").c_str(), elsewhere.path().c_str(), none).ending,
            Ending::Identical);
}

// Beyond the dialog's 25600 blocks: every damaged block is carried, and the repair applies
// them all.
TEST_F(LargeFormsTest, ARepairFileOfThirtyThousandBlocksIsMadeAndApplied) {
  constexpr uint64_t kCount = 30000;
  const Bytes valid = RandomBytes(7, (kCount + 2) * kBlock - 10);
  Bytes broken = valid;
  for (uint64_t b = 2; b <= kCount + 1; ++b) broken[(b - 1) * kBlock + b % kBlock] ^= 0x01;
  scratch.Write("big.bin", broken);
  elsewhere.Write("big.bin", valid);
  const StreamControl none;

  ASSERT_EQ(StreamScanBrokenFile(scratch.Path("big.bin").c_str(), scratch.path().c_str(), none).ending,
            Ending::Done);
  const Outcome fix = StreamScanValidFile(elsewhere.Path("big.bin").c_str(), scratch.Path("big.crc").c_str(),
                                               elsewhere.path().c_str(), none);
  ASSERT_EQ(fix.ending, Ending::Done);
  ASSERT_EQ(fix.blocks.size(), kCount);
  EXPECT_EQ(fix.blocks.front(), 2u);
  EXPECT_EQ(fix.blocks.back(), kCount + 1);
  // And the fingerprint of its 118 regions, with the entry of every block carried; of the others
  // only two are left to sample: the first block, and the one behind the carried run that stands
  // in for every sample due inside it.
  EXPECT_EQ(elsewhere.Size("big.fix"), 8 + 4100 * kCount + 128 + 16 * 118 + 4 * kCount + 8 * 2);
  EXPECT_EQ(fix.outputBytes, 8 + 4100 * kCount + 128 + 16 * 118 + 4 * kCount + 8 * 2);
  const Bytes header = ReadBytesAt(elsewhere.Path("big.fix"), 0, 16);
  EXPECT_EQ(U32At(header, 0), valid.size());
  EXPECT_EQ(U32At(header, 4), kCount);
  EXPECT_EQ(U32At(header, 8), 2u);
  // The last carried block, from the valid file, at the end of the repair file.
  EXPECT_TRUE(ReadBytesAt(elsewhere.Path("big.fix"), 8 + 4 * kCount + (kCount - 1) * kBlock, kBlock) ==
              Part(valid, kCount * kBlock, (kCount + 1) * kBlock));

  const Outcome repaired = StreamRepairBrokenFile(scratch.Path("big.bin").c_str(), elsewhere.Path("big.fix").c_str(),
                                                       RepairOptions{.checkFilePath = scratch.Path("big.crc").c_str()}, none);
  ASSERT_EQ(repaired.ending, Ending::Done);
  EXPECT_EQ(repaired.blocks.size(), kCount);
  EXPECT_TRUE(scratch.Read("big.bin") == valid);
}

Bytes Le64(uint64_t value) { return Concat({Le32(static_cast<uint32_t>(value)), Le32(static_cast<uint32_t>(value >> 32))}); }

// A malformed large form is refused with its own message before anything is read or written.
// (A well-formed one of a larger broken file is answered, as in the small form: its repair cuts
// the copy.)
TEST_F(LargeFormsTest, MalformedLargeFormsAreRefusedWithTheirOwnMessage) {
  elsewhere.Resize("disk.img", kSize);
  const Bytes marker = Le32(0xFFFFFFFF);
  const struct {
    const char* name;
    Bytes start;
    uint64_t length;
    Step step;
  } tests[] = {
      {"size below 4 GiB", Concat({marker, Le64(4096)}), 16, Step::CheckLargeTestFile},
      {"one entry short", Concat({marker, Le64(kSize)}), 12 + 4 * (kBlocks - 1), Step::CheckLargeTestFile},
      {"no room for the size", marker, 8, Step::CheckLargeTestFile},
  };
  for (const auto& test : tests) {
    SCOPED_TRACE(test.name);
    scratch.Write("disk.crc", test.start);
    scratch.Resize("disk.crc", test.length);
    const Outcome result = StreamScanValidFile(elsewhere.Path("disk.img").c_str(), scratch.Path("disk.crc").c_str(),
                                                    elsewhere.path().c_str(), StreamControl{});
    EXPECT_EQ(result.ending, Ending::Stopped);
    EXPECT_EQ(result.step, test.step);
    EXPECT_EQ(result.systemError, 0u);
    EXPECT_FALSE(elsewhere.Exists("disk.fix"));
  }

  const Bytes broken = RandomBytes(3, 3 * kBlock);
  scratch.Write("disk.img", broken);
  const Bytes block(kBlock, 0x42);
  const struct {
    const char* name;
    Bytes file;
  } repairs[] = {
      {"no room for the size", Concat({Le32(0), Le32(0)})},
      {"size below 4 GiB", Concat({Le32(0), Le32(0), Le64(5000)})},
      {"cut short", Concat({Le32(0), Le32(2), Le64(kSize), Le32(1), Le32(2), block})},
      {"block number past the end", Concat({Le32(0), Le32(1), Le64(kSize), Le32(static_cast<uint32_t>(kBlocks + 1)), block})},
  };
  for (const auto& repair : repairs) {
    SCOPED_TRACE(repair.name);
    elsewhere.Write("disk.fix", repair.file);
    const Outcome result = StreamRepairBrokenFile(scratch.Path("disk.img").c_str(), elsewhere.Path("disk.fix").c_str(),
                                                       RepairOptions{}, StreamControl{});
    EXPECT_EQ(result.ending, Ending::Stopped);
    EXPECT_EQ(result.step, Step::CheckLargeRepairFile);
    EXPECT_EQ(result.systemError, 0u);
    EXPECT_TRUE(scratch.Read("disk.img") == broken);
  }
}

// A broken file of exactly 0xFFFFFFFF bytes would record the large form's marker as its size.
TEST_F(LargeFormsTest, SizesNoTestFileCanRecordAreRefusedAsTooLarge) {
  scratch.Resize("odd.img", 0xFFFFFFFF);
  Outcome result = StreamScanBrokenFile(scratch.Path("odd.img").c_str(), scratch.path().c_str(), StreamControl{});
  EXPECT_EQ(result.ending, Ending::Stopped);
  EXPECT_EQ(result.step, Step::SizeBroken);
  EXPECT_EQ(result.systemError, SystemErrorCode(SystemErrorKind::FileTooLarge));
  EXPECT_FALSE(scratch.Exists("odd.crc"));
#ifndef _WIN32
  // Past (2^32 - 1) * 4096 bytes block numbers no longer fit in 32 bits. The disk's file
  // system takes no file that large; a memory file system takes it sparse.
  const std::string huge = "/dev/shm/varnell-too-large-" + std::to_string(getpid()) + ".img";
  std::FILE* file = std::fopen(huge.c_str(), "wb");
  if (file == nullptr) GTEST_SKIP() << "no /dev/shm";
  std::fclose(file);
  if (truncate(huge.c_str(), static_cast<off_t>(kLargestExchangedSize + 1)) != 0) {
    std::remove(huge.c_str());
    GTEST_SKIP() << "no file system for a file of 16 TiB";
  }
  result = StreamScanBrokenFile(huge.c_str(), scratch.path().c_str(), StreamControl{});
  EXPECT_EQ(result.step, Step::SizeBroken);
  EXPECT_EQ(result.systemError, SystemErrorCode(SystemErrorKind::FileTooLarge));
  scratch.Write("huge.crc", ReferenceTestFile({}));
  result = StreamScanValidFile(huge.c_str(), scratch.Path("huge.crc").c_str(), scratch.path().c_str(), StreamControl{});
  EXPECT_EQ(result.step, Step::SizeValid);
  EXPECT_EQ(result.systemError, SystemErrorCode(SystemErrorKind::FileTooLarge));
  std::remove(huge.c_str());
#endif
}

}  // namespace
