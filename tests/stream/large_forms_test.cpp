// Files of 4 GiB and more, on sparse files: the large forms field by field, and the whole
// exchange through them. Only a few blocks of each file hold data; the rest are holes.
#include <gtest/gtest.h>

#include "engine/byte_order.h"
#include "engine/messages.h"
#include "tests/stream/stream_test.h"
#include "tests/testing/reference.h"

namespace {

constexpr uint64_t kBlock = 4096;
constexpr uint64_t k4GiB = uint64_t{1} << 32;
// 4 GiB, three whole blocks and 100 bytes: 1048580 blocks.
constexpr uint64_t kSize = k4GiB + 3 * kBlock + 100;
constexpr uint64_t kBlocks = (kSize + kBlock - 1) / kBlock;

uint32_t Le32(const Bytes& bytes, size_t at) { return LoadU32LE(bytes.data() + at); }
uint64_t Le64(const Bytes& bytes, size_t at) { return Le32(bytes, at) | uint64_t{Le32(bytes, at + 4)} << 32; }

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

  const StreamResult scan = StreamScanBrokenFile(scratch.Path("disk.img").c_str(), scratch.path().c_str(), none);
  ASSERT_EQ(scan.outcome, StreamOutcome::Done);
  const Bytes test = scratch.Read("disk.crc");
  ASSERT_EQ(test.size(), 12 + 4 * kBlocks);
  EXPECT_EQ(scan.outputBytes, test.size());
  EXPECT_EQ(Le32(test, 0), 0xFFFFFFFFu);
  EXPECT_EQ(Le64(test, 4), kSize);
  // Entries: block 1 and block kBlocks - 2 hold data, the holes give 0.
  const Bytes first = ReadBytesAt(scratch.Path("disk.img"), 0, kBlock);
  EXPECT_EQ(Le32(test, 12), ReferenceChecksum(first, 0));
  EXPECT_EQ(Le32(test, 12 + 4 * 2), 0u);
  const Bytes late = ReadBytesAt(scratch.Path("disk.img"), (kBlocks - 3) * kBlock, kBlock);
  EXPECT_EQ(Le32(test, 12 + 4 * (kBlocks - 3)), ReferenceChecksum(late, 0));
  EXPECT_NE(Le32(test, 12 + 4 * (kBlocks - 3)), 0u);
  EXPECT_EQ(Le32(test, 12 + 4 * (kBlocks - 1)), 0u);

  const StreamResult fix = StreamScanValidFile(elsewhere.Path("disk.img").c_str(), scratch.Path("disk.crc").c_str(),
                                               elsewhere.path().c_str(), none);
  ASSERT_EQ(fix.outcome, StreamOutcome::Done);
  EXPECT_EQ(fix.blocks, (std::vector<uint32_t>{2, static_cast<uint32_t>(kBlocks - 1), static_cast<uint32_t>(kBlocks)}));
  const Bytes repair = elsewhere.Read("disk.fix");
  ASSERT_EQ(repair.size(), 16 + 4100 * 3u);
  EXPECT_EQ(fix.outputBytes, repair.size());
  EXPECT_EQ(Le32(repair, 0), 0u);
  EXPECT_EQ(Le32(repair, 4), 3u);
  EXPECT_EQ(Le64(repair, 8), kSize);
  EXPECT_EQ(Le32(repair, 16), 2u);
  EXPECT_EQ(Le32(repair, 20), kBlocks - 1);
  EXPECT_EQ(Le32(repair, 24), kBlocks);
  const std::string valid = elsewhere.Path("disk.img");
  EXPECT_TRUE(Part(repair, 28, 28 + kBlock) == ReadBytesAt(valid, kBlock, kBlock));
  EXPECT_TRUE(Part(repair, 28 + kBlock, 28 + 2 * kBlock) == ReadBytesAt(valid, (kBlocks - 2) * kBlock, kBlock));
  // The last block: its 100 bytes, then zeros.
  Bytes last = ReadBytesAt(valid, (kBlocks - 1) * kBlock, kBlock);
  ASSERT_EQ(last.size(), 100u);
  last.resize(kBlock, 0);
  EXPECT_TRUE(Part(repair, 28 + 2 * kBlock, 28 + 3 * kBlock) == last);

  const StreamResult repaired = StreamRepairBrokenFile(scratch.Path("disk.img").c_str(), elsewhere.Path("disk.fix").c_str(),
                                                       scratch.Path("disk.crc").c_str(), none);
  ASSERT_EQ(repaired.outcome, StreamOutcome::Done);
  EXPECT_EQ(scratch.Size("disk.img"), kSize);
  for (const uint64_t b : {uint64_t{1}, uint64_t{2}, kBlocks - 2, kBlocks - 1, kBlocks}) {
    EXPECT_TRUE(ReadBytesAt(scratch.Path("disk.img"), (b - 1) * kBlock, kBlock) == ReadBytesAt(valid, (b - 1) * kBlock, kBlock))
        << "block " << b;
  }
  const StreamResult again = StreamScanBrokenFile(scratch.Path("disk.img").c_str(), scratch.path().c_str(), none);
  ASSERT_EQ(again.outcome, StreamOutcome::Done);
  EXPECT_EQ(StreamScanValidFile(valid.c_str(), scratch.Path("disk.crc").c_str(), elsewhere.path().c_str(), none).outcome,
            StreamOutcome::Identical);
}

}  // namespace
