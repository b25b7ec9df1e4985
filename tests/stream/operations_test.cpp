// The three streaming operations end to end on ordinary files: the bytes they write, what
// they return, and the broken file they leave.
#include <gtest/gtest.h>

#include "tests/stream/stream_test.h"
#include "tests/testing/reference.h"

namespace {

constexpr uint32_t kBlock = 4096;

class OperationsTest : public StreamTest {};

TEST_F(OperationsTest, TheWholeExchangeRestoresTheValidFile) {
  const Bytes valid = RandomBytes(1, 300 * kBlock + 123);
  const Bytes broken = WithDamage(valid, {1, 2, 150, 301});
  scratch.Write("movie.avi", broken);
  elsewhere.Write("movie.avi", valid);
  const StreamControl none;

  Outcome scan = StreamScanBrokenFile(scratch.Path("movie.avi").c_str(), scratch.path().c_str(), none);
  ASSERT_EQ(scan.ending, Ending::Done);
  EXPECT_EQ(scan.outputPath, scratch.Path("movie.crc"));
  EXPECT_EQ(scan.outputBytes, 4u + 4 * 301);
  EXPECT_TRUE(scratch.Read("movie.crc") == ReferenceTestFile(broken));

  Outcome fix = StreamScanValidFile(elsewhere.Path("movie.avi").c_str(), scratch.Path("movie.crc").c_str(),
                                         elsewhere.path().c_str(), none);
  ASSERT_EQ(fix.ending, Ending::Done);
  EXPECT_EQ(fix.outputPath, elsewhere.Path("movie.fix"));
  // The fingerprint of the file's two regions behind the blocks.
  EXPECT_EQ(fix.outputBytes, 8u + 4100 * 4 + 56 + 2 * 16 + 16);
  EXPECT_TRUE(fix.fingerprinted);
  EXPECT_EQ(fix.fingerprint, Xxh3Hash128(valid.data(), valid.size()));
  EXPECT_EQ(fix.validSize, valid.size());
  EXPECT_EQ(fix.blocks, (std::vector<uint32_t>{1, 2, 150, 301}));
  EXPECT_TRUE(elsewhere.Read("movie.fix") == ReferenceRepairFile(valid, scratch.Read("movie.crc")));

  Outcome repair = StreamRepairBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.Path("movie.fix").c_str(),
                                               scratch.Path("movie.crc").c_str(), none);
  ASSERT_EQ(repair.ending, Ending::Done);
  EXPECT_EQ(repair.verification, Verification::Verified);
  EXPECT_EQ(repair.blocks, (std::vector<uint32_t>{1, 2, 150, 301}));
  EXPECT_TRUE(scratch.Read("movie.avi") == valid);

  // The closing check: scanned again, the repaired file has the valid file's contents.
  ASSERT_EQ(StreamScanBrokenFile(scratch.Path("movie.avi").c_str(), scratch.path().c_str(), none).ending,
            Ending::Done);
  Outcome again = StreamScanValidFile(elsewhere.Path("movie.avi").c_str(), scratch.Path("movie.crc").c_str(),
                                           elsewhere.path().c_str(), none);
  EXPECT_EQ(again.ending, Ending::Identical);
    EXPECT_EQ(RecordedBoxes().size(), 0u);
}

}  // namespace
