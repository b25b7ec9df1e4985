// The fingerprinted exchange files byte for byte, as the exchange writes them, against golden
// files (tests/golden/fingerprint/). Their inputs are made here by formula: a valid file of
// 2 MiB and 5000 bytes (three regions), byte i = (i * 2654435761 mod 2^32) >> 24; its broken
// copy has a bit flipped in blocks 2 and 514, which the block checksums see, and two words of
// block 300 swapped, which they do not. The golden files were checked field by field against
// xxh128sum (the whole file, each region, each part's check) and xxhsum -H3 (the follow-up's
// block hashes); disk.img.xxh128 is xxh128sum's line for the valid file.
//   repair.fix     the repair file of the scan: blocks 2 and 514, the fingerprint of 3 regions
//                  with the record of the broken file (the test file's entries of both, 64
//                  blocks sampled)
//   follow-up.crc  the follow-up the repair writes: region 1, with block 300 in it
//   answer.fix     the valid-file scan's answer: block 300, the fingerprint of region 1 alone,
//                  with the follow-up's hashes of block 300 and of 64 blocks of region 1
// The records were checked by a script of their own: every field against the test file or the
// follow-up, the sample against the rule written out again, the check by xxh128sum.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/fingerprint.h"
#include "stream/operations.h"
#include "tests/golden/golden_files.h"
#include "tests/testing/engine_test.h"
#include "tests/testing/reference.h"

namespace {

constexpr size_t kSize = 2 * (1u << 20) + 5000;

Bytes Valid() {
  Bytes valid(kSize);
  for (size_t i = 0; i < kSize; ++i) valid[i] = static_cast<uint8_t>((static_cast<uint32_t>(i) * 2654435761u) >> 24);
  return valid;
}

Bytes Broken(const Bytes& valid) {
  Bytes broken = valid;
  broken[4096 + 1] ^= 0x01;
  broken[513 * 4096 + 10] ^= 0x80;
  std::swap_ranges(broken.begin() + 299 * 4096 + 8, broken.begin() + 299 * 4096 + 12, broken.begin() + 299 * 4096 + 2048);
  return broken;
}

class FingerprintGoldenTest : public EngineTest {
 protected:
  ScratchFolder elsewhere;
};

TEST_F(FingerprintGoldenTest, TheExchangeWritesTheGoldenFiles) {
  const Bytes valid = Valid();
  const Bytes line = GoldenFile("fingerprint/disk.img.xxh128");
  const std::string printed(line.begin(), line.end());
  EXPECT_EQ(Hash128Hex(Xxh3Hash128(valid.data(), valid.size())) + "  disk.img\n", printed);
  elsewhere.Write("disk.img", valid);
  const std::string validPath = elsewhere.Path("disk.img"), fix = elsewhere.Path("disk.fix");
  const std::string brokenPath = scratch.Path("disk.img"), test = scratch.Path("disk.crc");

  scratch.Write("disk.img", Broken(valid));
  scratch.Write("disk.crc", ReferenceTestFile(Broken(valid)));
  ASSERT_EQ(StreamScanValidFile(validPath.c_str(), test.c_str(), elsewhere.path().c_str(), {}).ending, Ending::Done);
  EXPECT_TRUE(elsewhere.Read("disk.fix") == GoldenFile("fingerprint/repair.fix"));

  ASSERT_EQ(StreamRepairBrokenFile(brokenPath.c_str(), fix.c_str(), RepairOptions{}, {}).ending, Ending::Differs);
  EXPECT_TRUE(scratch.Read("disk.crc") == GoldenFile("fingerprint/follow-up.crc"));

  ASSERT_EQ(StreamScanValidFile(validPath.c_str(), test.c_str(), elsewhere.path().c_str(), {}).ending, Ending::Done);
  EXPECT_TRUE(elsewhere.Read("disk.fix") == GoldenFile("fingerprint/answer.fix"));
  const Outcome verified = StreamRepairBrokenFile(brokenPath.c_str(), fix.c_str(), RepairOptions{}, {});
  EXPECT_EQ(verified.verification, Verification::Verified);
  EXPECT_TRUE(scratch.Read("disk.img") == valid);
}

}  // namespace
