// The repair that proves its result: damage the block checksum
// cannot see is found by the fingerprint, reported with its ranges, and made good through the
// follow-up; what must be refused is refused before the broken file is touched; and every new
// failure stops at its step with nothing left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "core/fingerprint.h"
#include "tests/stream/stream_test.h"
#include "tests/testing/reference.h"
#include "core/byte_order.h"
#include "core/test_file.h"

namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint64_t kMiB = uint64_t{1} << 20;

// A block whose words cancel in pairs: its checksum is 0, like a block of 0xFF bytes.
Bytes PairedWords(uint32_t seed) {
  const Bytes half = RandomBytes(seed, kBlock / 2);
  return Concat({half, half});
}

Bytes Repeated(const Bytes& pattern, size_t count) {
  Bytes bytes;
  while (bytes.size() < count) bytes.insert(bytes.end(), pattern.begin(), pattern.end());
  bytes.resize(count);
  return bytes;
}

// Puts block (1-based) in place of the file's block.
void PutBlock(Bytes* file, uint64_t block, const Bytes& bytes) {
  std::copy(bytes.begin(), bytes.end(), file->begin() + static_cast<std::ptrdiff_t>((block - 1) * kBlock));
}

// Who applies or checks a repair file: the repair, or a verification, which writes nothing.
enum class Engine { Streaming, Verify };

class ProofTest : public StreamTest {
 protected:
  // The broken copy, its test file and the valid side's repair file, as the scans make them.
  void Exchange(const Bytes& valid, const Bytes& broken) {
    // A new exchange: no answer to an earlier round stands under the output's name.
    std::filesystem::remove(elsewhere.Path("disk.fix"));
    scratch.Write("disk.img", broken);
    elsewhere.Write("disk.img", valid);
    scratch.Write("disk.crc", ReferenceTestFile(broken));
    ASSERT_EQ(ScanValid().ending, Ending::Done);
  }
  Outcome ScanValid() {
    return StreamScanValidFile(elsewhere.Path("disk.img").c_str(), scratch.Path("disk.crc").c_str(), elsewhere.path().c_str(),
                               StreamControl{});
  }
  Outcome Repair(Engine engine) {
    const std::string broken = scratch.Path("disk.img"), fix = elsewhere.Path("disk.fix");
    if (engine == Engine::Verify) return StreamVerifyFile(broken.c_str(), fix.c_str(), StreamControl{});
    return StreamRepairBrokenFile(broken.c_str(), fix.c_str(), RepairOptions{}, StreamControl{});
  }
};

// The block each kind of hidden damage goes to, in the first region; block 600 of the third
// region is hidden too.
constexpr uint64_t kHidden = 100;
constexpr size_t kAt = (kHidden - 1) * kBlock;

struct BlindSpot {
  const char* name;
  std::function<void(Bytes* valid, Bytes* broken)> damage;
};

// The kinds of damage the exclusive-or of a block's words cannot see, each beside one it sees
// (block 2) in a file of four regions.
const BlindSpot kBlindSpots[] = {
    {"erased flash over words that cancel", [](Bytes* v, Bytes* b) { PutBlock(v, kHidden, PairedWords(1)); PutBlock(b, kHidden, Bytes(kBlock, 0xFF)); }},
    {"a zeroed sector of a repeated pattern",
     [](Bytes* v, Bytes* b) {
       PutBlock(v, kHidden, Repeated({0x12, 0x34, 0x56, 0x78}, kBlock));
       PutBlock(b, kHidden, Concat({Repeated({0x12, 0x34, 0x56, 0x78}, 1024), Bytes(512, 0), Repeated({0x12, 0x34, 0x56, 0x78}, 2560)}));
     }},
    {"two sectors swapped",
     [](Bytes*, Bytes* b) {
       std::swap_ranges(b->begin() + kAt, b->begin() + kAt + 512, b->begin() + kAt + 2048);
     }},
    {"the same bit flipped in two words", [](Bytes*, Bytes* b) { (*b)[kAt + 9] ^= 0x10; (*b)[kAt + 9 + 4 * 77] ^= 0x10; }},
    {"eight equal words written over zeros",
     [](Bytes* v, Bytes* b) {
       std::fill(v->begin() + kAt, v->begin() + kAt + 32, 0);
       PutBlock(b, kHidden, Part(*v, kAt, kAt + kBlock));
       for (int i = 0; i < 32; ++i) (*b)[kAt + i] = std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}[i % 4];
     }},
};

TEST_F(ProofTest, BlindSpotsAreFoundAndTheFollowUpEndsInAVerifiedFile) {
  for (const BlindSpot& spot : kBlindSpots) {
    SCOPED_TRACE(spot.name);
    Bytes valid = RandomBytes(2, 3 * kMiB + 100);
    Bytes broken = valid;
    spot.damage(&valid, &broken);
    broken[kBlock + 5] ^= 0x01;
    // Region 3 has the same blind damage: two sectors swapped in block 600.
    std::swap_ranges(broken.begin() + 599 * kBlock, broken.begin() + 599 * kBlock + 512, broken.begin() + 599 * kBlock + 1024);
    ASSERT_EQ(ReferenceChecksum(valid, kHidden - 1), ReferenceChecksum(broken, kHidden - 1));
    ASSERT_FALSE(Part(valid, kAt, kAt + kBlock) == Part(broken, kAt, kAt + kBlock));
    Exchange(valid, broken);

    const Outcome differs = Repair(Engine::Streaming);
    ASSERT_EQ(differs.ending, Ending::Differs);
    EXPECT_EQ(differs.verification, Verification::Differs);
    EXPECT_EQ(differs.differing, (std::vector<ByteRange>{{0, kMiB - 1}, {2 * kMiB, 3 * kMiB - 1}}));
    EXPECT_EQ(differs.followUpPath, scratch.Path("disk.crc"));
    EXPECT_EQ(differs.fingerprint, Xxh3Hash128(valid.data(), valid.size()));

    // The follow-up asks for exactly the two hidden blocks, and their bytes are the bulk of
    // the repair file that answers it.
    const Outcome answer = ScanValid();
    ASSERT_EQ(answer.ending, Ending::Done);
    EXPECT_EQ(answer.blocks, (std::vector<uint32_t>{kHidden, 600}));
    EXPECT_LE(answer.outputBytes, 2u * 2 * kBlock);
    const Outcome verified = Repair(Engine::Streaming);
    ASSERT_EQ(verified.ending, Ending::Done);
    EXPECT_EQ(verified.verification, Verification::Verified);
    EXPECT_TRUE(scratch.Read("disk.img") == valid);
  }
}

// A copy longer than the valid file by two equal words, which cancel in its last block's
// checksum, and with two words of that block swapped: the repair cuts the tail and still finds
// the block different. The follow-up's last block is the file's, padded with zero bytes, not
// with the tail it cut.
TEST_F(ProofTest, TheFollowUpOfACopyItCutHoldsTheLastBlockPaddedWithZeros) {
  const Bytes valid = RandomBytes(6, 5000);
  Bytes broken = Concat({valid, Bytes(8, 0x11)});
  std::swap_ranges(broken.begin() + 4096, broken.begin() + 4100, broken.begin() + 4104);
  Exchange(valid, broken);
  ASSERT_EQ(Repair(Engine::Streaming).ending, Ending::Differs);
  const Bytes followUp = scratch.Read("disk.crc");
  Bytes last = Part(scratch.Read("disk.img"), kBlock, valid.size());
  last.resize(kBlock, 0);
  ASSERT_GT(followUp.size(), kLongestFollowUpHeader + 4 + 16u);
  EXPECT_EQ(LoadU64LE(followUp.data() + kLongestFollowUpHeader + 4 + 8), Xxh3Hash64(last.data(), last.size()));
}

// A repair file or a follow-up that does not hold together is refused before anything is
// written; so is a follow-up made for a file of another size.
TEST_F(ProofTest, WhatDoesNotHoldTogetherIsRefusedAndNothingIsWritten) {
  Bytes valid = RandomBytes(3, kMiB + 5000);
  Bytes broken = valid;
  std::swap_ranges(broken.begin() + 8, broken.begin() + 12, broken.begin() + 2000);
  broken[kMiB + 7] ^= 1;
  Exchange(valid, broken);
  const Bytes fix = elsewhere.Read("disk.fix");
  ASSERT_EQ(Repair(Engine::Streaming).ending, Ending::Differs);
  broken = scratch.Read("disk.img");
  const Bytes followUp = scratch.Read("disk.crc");
  const struct {
    const char* name;
    const char* file;
    std::function<Bytes()> contents;
    Step step;
  } cases[] = {
      {"a repair file cut inside its fingerprint", "disk.fix", [&] { return Part(fix, 0, fix.size() - 20); }, Step::CheckFingerprint},
      {"a fingerprint with a byte changed", "disk.fix", [&] { Bytes f = fix; f[fix.size() - 40] ^= 0x01; return f; }, Step::CheckFingerprint},
      {"a follow-up cut", "disk.crc", [&] { return Part(followUp, 0, followUp.size() - 1); }, Step::CheckFollowUp},
      {"a follow-up with a hash changed", "disk.crc", [&] { Bytes f = followUp; f[100] ^= 0x01; return f; }, Step::CheckFollowUp},
      {"a follow-up of a file one byte longer", "disk.crc", [&] { Bytes f = followUp; f[16] += 1; return f; }, Step::CheckFollowUp},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool repairFile = std::string(c.file) == "disk.fix";
    elsewhere.Write("disk.fix", repairFile ? c.contents() : fix);
    if (!repairFile) scratch.Write("disk.crc", c.contents());
    const Outcome result = repairFile ? Repair(Engine::Streaming) : ScanValid();
    EXPECT_EQ(result.ending, Ending::Stopped);
    EXPECT_EQ(result.step, c.step);
    EXPECT_FALSE(result.brokenFileChanged);
    EXPECT_TRUE(scratch.Read("disk.img") == broken);
    EXPECT_TRUE(elsewhere.Read("disk.fix") == (repairFile ? c.contents() : fix));
    scratch.Write("disk.crc", followUp);
  }
}

// The new steps made to fail: each stops where it should, with the system's error, the blocks
// in place (a verification writes none), and no follow-up or temporary left.
TEST_F(ProofTest, EveryStepOfTheCheckAndTheFollowUpCanFail) {
  const struct {
    Engine engine;
    Service service;
    uint32_t nthCall;
    FaultKind kind;
    Step step;
  } cases[] = {
      {Engine::Streaming, Service::ReadAt, 15, FaultKind::Fail, Step::ReadBack},
      {Engine::Streaming, Service::CreateTemporaryFile, 1, FaultKind::Fail, Step::CreateFollowUp},
      {Engine::Streaming, Service::WriteAt, 2, FaultKind::ShortTransfer, Step::WriteFollowUp},
      {Engine::Streaming, Service::ReadAt, 16, FaultKind::Fail, Step::ReadBack},
      {Engine::Streaming, Service::ReplaceWithFile, 1, FaultKind::Fail, Step::WriteFollowUp},
      {Engine::Verify, Service::OpenInputFile, 1, FaultKind::Fail, Step::OpenBroken},
      {Engine::Verify, Service::OpenInputFile, 2, FaultKind::Fail, Step::OpenRepair},
      {Engine::Verify, Service::GetFileSize64, 1, FaultKind::Fail, Step::SizeBroken},
      {Engine::Verify, Service::GetFileSize64, 2, FaultKind::Fail, Step::SizeRepair},
      {Engine::Verify, Service::ReadAt, 1, FaultKind::Fail, Step::ReadRepair},
      {Engine::Verify, Service::CommitMemory, 1, FaultKind::Fail, Step::CommitRepairBuffer},
      {Engine::Verify, Service::ReadAt, 3, FaultKind::ShortTransfer, Step::ReadRepair},
      {Engine::Verify, Service::CommitMemory, 2, FaultKind::Fail, Step::AllocateReadBack},
      {Engine::Verify, Service::CommitMemory, 6, FaultKind::Fail, Step::AllocateReadBack},
      {Engine::Verify, Service::ReadAt, 4, FaultKind::Fail, Step::ReadRepair},
      {Engine::Verify, Service::ReadAt, 6, FaultKind::Fail, Step::ReadBack},
  };
  Bytes valid = RandomBytes(4, 3 * kBlock);
  Bytes broken = valid;
  std::swap_ranges(broken.begin() + 8, broken.begin() + 12, broken.begin() + 2000);
  broken[2 * kBlock] ^= 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.step) << " call " << c.nthCall);
    ClearFaults();
    Exchange(valid, broken);
    scratch.Write("disk.crc", {});
    const Bytes fix = elsewhere.Read("disk.fix");
    ClearFaults();
    InjectFault(c.service, c.nthCall, SystemErrorCode(SystemErrorKind::DiskFull), c.kind);
    const Outcome result = Repair(c.engine);
    EXPECT_EQ(result.ending, Ending::Stopped);
    EXPECT_EQ(result.step, c.step);
    EXPECT_EQ(result.systemError, c.kind == FaultKind::Fail ? SystemErrorCode(SystemErrorKind::DiskFull) : result.systemError);
    EXPECT_TRUE(elsewhere.Read("disk.fix") == fix);
    // Nothing is written before the memory is had; after it, the visible block is in place.
    EXPECT_EQ(scratch.Read("disk.img")[2 * kBlock] == valid[2 * kBlock],
              c.engine != Engine::Verify && c.step != Step::AllocateReadBack);
    EXPECT_TRUE(scratch.Read("disk.crc").empty());
    EXPECT_EQ(FolderEntries(scratch.path()), (std::vector<std::string>{"disk.crc", "disk.img"}));
  }

  // The answer to a follow-up: its memory and its reads, the record and the check at the end.
  ClearFaults();
  Exchange(valid, broken);
  ASSERT_EQ(Repair(Engine::Streaming).ending, Ending::Differs);
  const Bytes fix = elsewhere.Read("disk.fix");
  for (const auto& [service, nthCall, step] : {std::tuple{Service::CommitMemory, 5u, Step::AllocateTest},
                                               std::tuple{Service::CommitMemory, 6u, Step::AllocateTest},
                                               std::tuple{Service::ReadAt, 2u, Step::ReadTest},
                                               std::tuple{Service::ReadAt, 4u, Step::ReadTest}}) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(step) << " call " << nthCall);
    ClearFaults();
    InjectFault(service, nthCall, SystemErrorCode(SystemErrorKind::DiskFull));
    const Outcome result = ScanValid();
    EXPECT_EQ(result.ending, Ending::Stopped);
    EXPECT_EQ(result.step, step);
    EXPECT_TRUE(elsewhere.Read("disk.fix") == fix);
    EXPECT_EQ(FolderEntries(elsewhere.path()), (std::vector<std::string>{"disk.fix", "disk.img"}));
  }
}

// Without a second thread the work is done in line, to the same files; identical copies get
// a repair file on request (--prove), which verifies them; a repair file without a fingerprint
// is applied as it always was, unchecked.
TEST_F(ProofTest, TheSameResultInLineProvenOnRequestAndUncheckedWithoutAFingerprint) {
  const Bytes valid = RandomBytes(5, 2 * kMiB + 3 * kBlock);
  const Bytes broken = WithDamage(valid, {2, 513});
  Exchange(valid, broken);
  const Bytes fix = elsewhere.Read("disk.fix");
  ClearFaults();
  InjectFault(Service::StartThread, 1, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
  ASSERT_EQ(StreamScanBrokenFile(scratch.Path("disk.img").c_str(), elsewhere.path().c_str(), StreamControl{}).ending,
            Ending::Done);
  EXPECT_TRUE(elsewhere.Read("disk.crc") == scratch.Read("disk.crc"));
  InjectFault(Service::StartThread, 2, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
  ASSERT_EQ(ScanValid().ending, Ending::Done);
  EXPECT_TRUE(elsewhere.Read("disk.fix") == fix);
  StreamControl oneThread;
  oneThread.oneThread = true;
  ASSERT_EQ(StreamScanValidFile(elsewhere.Path("disk.img").c_str(), scratch.Path("disk.crc").c_str(), elsewhere.path().c_str(),
                                oneThread)
                .ending,
            Ending::Done);
  EXPECT_TRUE(elsewhere.Read("disk.fix") == fix);
  EXPECT_EQ(ServiceCallCount(Service::StartThread), 2u) << "none asked for";

  scratch.Write("disk.img", valid);
  scratch.Write("disk.crc", ReferenceTestFile(valid));
  ASSERT_EQ(ScanValid().ending, Ending::Identical);
  EXPECT_TRUE(elsewhere.Read("disk.fix") == ReferenceRepairFile(valid, ReferenceTestFile(valid)));
  const Outcome proven = Repair(Engine::Streaming);
  EXPECT_EQ(proven.ending, Ending::Done);
  EXPECT_EQ(proven.verification, Verification::Verified);

  // The blocks alone, as a program that writes no fingerprint writes them.
  elsewhere.Write("disk.fix", Part(fix, 0, 8 + 4100 * (fix[4] | fix[5] << 8)));
  scratch.Write("disk.img", broken);
  const Outcome unchecked = Repair(Engine::Streaming);
  EXPECT_EQ(unchecked.ending, Ending::Done);
  EXPECT_EQ(unchecked.verification, Verification::NoFingerprint);
  EXPECT_TRUE(scratch.Read("disk.img") == valid);
}

}  // namespace
