// The compact test file through the three operations: the repair file it gives is the plain
// form's byte for byte, a round that does not decode asks for a larger test file and the next
// one finishes the repair, the check of a repair reads it, and what does not hold together or
// was made for another file is refused before anything is written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/asking_repair_file.h"
#include "core/compact_test_file.h"
#include "core/file_kinds.h"
#include "tests/stream/stream_test.h"
#include "tests/testing/reference.h"

namespace {

constexpr uint32_t kBlock = 4096;
// 32 MiB: a plain test file of 32 KiB, eight times the smallest compact one.
constexpr uint32_t kBlocks = 8192;

// A file mostly of zero blocks with data every 7th block, and a copy with the given blocks
// (1-based) changed in one byte, which always changes a block's checksum.
struct Copies {
  Bytes valid;
  Bytes broken;
};

Copies MakeCopies(uint32_t damaged, uint32_t seed) {
  Copies c;
  c.valid.assign(size_t{kBlocks} * kBlock - 1000, 0);
  for (uint32_t b = 0; b < kBlocks; b += 7) {
    const Bytes noise = RandomBytes(seed + b, 64);
    std::copy(noise.begin(), noise.end(), c.valid.begin() + size_t{b} * kBlock);
  }
  c.broken = c.valid;
  for (uint32_t i = 0; i < damaged; ++i) c.broken[size_t{i * (kBlocks / damaged)} * kBlock + 100] ^= 0x5A;
  return c;
}

class CompactTest : public StreamTest {
 protected:
  void Put(const Copies& c) {
    scratch.Write("disk.img", c.broken);
    elsewhere.Write("disk.img", c.valid);
  }
  Outcome ScanBroken(uint64_t budget) {
    TestFileChoice choice;
    choice.budget = budget;
    return StreamScanBrokenFile(scratch.Path("disk.img").c_str(), scratch.path().c_str(), {}, choice);
  }
  Outcome ScanValid() {
    return StreamScanValidFile(elsewhere.Path("disk.img").c_str(), scratch.Path("disk.crc").c_str(),
                               elsewhere.path().c_str(), {});
  }
  Outcome Repair(const RepairOptions& options = {}) {
    return StreamRepairBrokenFile(scratch.Path("disk.img").c_str(), elsewhere.Path("disk.fix").c_str(), options, {});
  }
};

// Decoded, the compact test file gives the repair file the plain one gives, the record of the
// broken file and all; the repair, checked against the compact test file, restores the file.
TEST_F(CompactTest, ARoundThatDecodesGivesThePlainFormsRepairFile) {
  const Copies c = MakeCopies(20, 1);
  Put(c);
  ASSERT_EQ(ScanBroken(4096).ending, Ending::Done);
  const Bytes test = scratch.Read("disk.crc");
  ASSERT_EQ(test.size(), 4096u - (4096 - CompactTestFileLength(0)) % kCompactSymbolBytes);
  EXPECT_EQ(ReadExchangeFileKind(test.data(), test.size()), ExchangeFileKind::CompactTestFile);

  const Outcome fixed = ScanValid();
  ASSERT_EQ(fixed.ending, Ending::Done) << fixed;
  EXPECT_EQ(fixed.blocks.size(), 20u);
  EXPECT_TRUE(elsewhere.Read("disk.fix") == ReferenceRepairFile(c.valid, ReferenceTestFile(c.broken), &test));

  const std::string check = scratch.Path("disk.crc");
  const Outcome repaired = Repair(RepairOptions{.checkFilePath = check.c_str()});
  ASSERT_EQ(repaired.ending, Ending::Done) << repaired;
  EXPECT_EQ(repaired.verification, Verification::Verified);
  EXPECT_TRUE(scratch.Read("disk.img") == c.valid);
}

// Too much damage for the symbols sent: the valid side answers with the request, the broken
// side makes the larger test file it asks for (only reading the broken file), and that one
// decodes. The request names the test file it answers: given to another file, or to the file
// once it has changed, it is refused.
TEST_F(CompactTest, ARoundThatDoesNotDecodeAsksForALargerTestFile) {
  const Copies c = MakeCopies(400, 2);
  Put(c);
  ASSERT_EQ(ScanBroken(4096).ending, Ending::Done);
  const Bytes first = scratch.Read("disk.crc");
  const Outcome asked = ScanValid();
  ASSERT_EQ(asked.ending, Ending::MoreNeeded) << asked;
  EXPECT_EQ(asked.outputPath, elsewhere.Path("disk.fix"));
  const Bytes request = elsewhere.Read("disk.fix");
  AskingRepairFile asking;
  ASSERT_TRUE(ReadAskingRepairFile(request.data(), request.size(), &asking));
  EXPECT_EQ(asking.answeredLength, first.size());

  // Another file of the same size does not give the test file the request answers.
  const Bytes other = MakeCopies(3, 3).broken;
  scratch.Write("disk.img", other);
  const Outcome refused = Repair();
  ASSERT_EQ(refused.ending, Ending::OtherFile) << refused;
  EXPECT_EQ(refused.check.finding, CheckFinding::TestFileDiffers);
  EXPECT_TRUE(scratch.Read("disk.img") == other);
  EXPECT_TRUE(scratch.Read("disk.crc") == first) << "no larger test file written for another file";
  scratch.Write("disk.img", c.broken);

  const Outcome larger = Repair();
  ASSERT_EQ(larger.ending, Ending::MoreNeeded) << larger;
  EXPECT_EQ(larger.outputPath, scratch.Path("disk.crc"));
  EXPECT_TRUE(scratch.Read("disk.img") == c.broken) << "the request only reads the broken file";
  const Bytes second = scratch.Read("disk.crc");
  EXPECT_EQ(second.size(), asking.askedLength);
  // Both rounds within 2.5 times a test file that would have decoded at once.
  EXPECT_LE(first.size() + second.size(), 5 * CompactTestFileLength(static_cast<uint32_t>(SymbolsToDecode(400))) / 2);

  ASSERT_EQ(ScanValid().ending, Ending::Done);
  EXPECT_TRUE(elsewhere.Read("disk.fix") == ReferenceRepairFile(c.valid, ReferenceTestFile(c.broken), &second));
  ASSERT_EQ(Repair().ending, Ending::Done);
  EXPECT_TRUE(scratch.Read("disk.img") == c.valid);
}

// What does not hold together is refused before anything is written: a compact test file cut
// or changed (by the valid-file scan, and by the check of a repair), a file changed since its
// compact test file was made (by the check, which names the block), a request cut or changed.
TEST_F(CompactTest, WhatDoesNotHoldTogetherIsRefused) {
  const Copies c = MakeCopies(10, 4);
  Put(c);
  ASSERT_EQ(ScanBroken(8192).ending, Ending::Done);
  const Bytes test = scratch.Read("disk.crc");
  ASSERT_EQ(ScanValid().ending, Ending::Done);
  const Bytes fix = elsewhere.Read("disk.fix");

  Bytes changed = test;
  changed[kCompactSymbolsAt + 5] ^= 1;
  for (const Bytes& damaged : {Part(test, 0, test.size() - 1), changed}) {
    scratch.Write("disk.crc", damaged);
    const Outcome scanned = ScanValid();
    EXPECT_EQ(scanned.ending, Ending::Stopped);
    EXPECT_EQ(scanned.step, Step::CheckCompactTestFile);
    EXPECT_TRUE(elsewhere.Read("disk.fix") == fix);
    const std::string check = scratch.Path("disk.crc");
    const Outcome checked = Repair(RepairOptions{.checkFilePath = check.c_str()});
    EXPECT_EQ(checked.ending, Ending::CheckRefused);
    EXPECT_EQ(checked.check.finding, CheckFinding::TestFileMalformed);
    EXPECT_TRUE(scratch.Read("disk.img") == c.broken);
  }

  scratch.Write("disk.crc", test);
  Bytes edited = c.broken;
  edited[size_t{2000} * kBlock + 7] ^= 0x10;
  scratch.Write("disk.img", edited);
  const std::string check = scratch.Path("disk.crc");
  const Outcome checked = Repair(RepairOptions{.checkFilePath = check.c_str()});
  ASSERT_EQ(checked.ending, Ending::CheckRefused) << checked;
  EXPECT_EQ(checked.check.finding, CheckFinding::BlockDiffers);
  EXPECT_EQ(checked.check.block, 2001u);
  EXPECT_TRUE(scratch.Read("disk.img") == edited);

  uint8_t request[kAskingRepairFileBytes];
  StoreAskingRepairFile(request, AskingRepairFile{c.broken.size(), test.size(), {}, 100, test.size() + 2400});
  for (const size_t length : {sizeof request - 1, sizeof request}) {
    Bytes bytes(request, request + length);
    bytes[20] ^= length == sizeof request ? 1 : 0;
    elsewhere.Write("disk.fix", bytes);
    const Outcome refused = Repair();
    EXPECT_EQ(refused.ending, Ending::Stopped);
    EXPECT_EQ(refused.step, Step::CheckAskingRepairFile);
  }
  EXPECT_TRUE(scratch.Read("disk.img") == edited);
  EXPECT_EQ(FolderEntries(scratch.path()), (std::vector<std::string>{"disk.crc", "disk.img"}));
}

}  // namespace
