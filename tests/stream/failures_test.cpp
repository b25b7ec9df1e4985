// Every step of the streaming operations made to fail through the platform layer: the step's
// message with the system's error, nothing left open or allocated (the fixture's ledger
// check), no input changed, and no output half there: an older file of the output's name
// intact and no temporary file beside it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/messages.h"
#include "engine/operations.h"
#include "stream/check_texts.h"
#include "tests/stream/stream_test.h"
#include "tests/testing/reference.h"

namespace {

constexpr uint32_t kBlock = 4096;
const Bytes kOlder = {'o', 'l', 'd', 'e', 'r'};

struct FaultCase {
  const char* name;
  Service service;
  uint32_t nthCall;
  FaultKind kind;
  const char* message;
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) { return out << c.name; }

// Two copies of six blocks and 100 bytes, blocks 2 and 5 damaged; each file fits one slice.
class FailuresTest : public StreamTest {
 protected:
  void SetUp() override {
    StreamTest::SetUp();
    valid = RandomBytes(1, 6 * kBlock + 100);
    broken = WithDamage(valid, {2, 5});
    scratch.Write("movie.avi", broken);
    elsewhere.Write("movie.avi", valid);
    scratch.Write("movie.crc", ReferenceTestFile(broken));
    elsewhere.Write("movie.fix", ReferenceRepairFile(valid, ReferenceTestFile(broken)));
  }
  // Arms the fault (a system error the operation does not set itself) and returns its code.
  uint32_t Arm(const FaultCase& c) {
    const uint32_t code = SystemErrorCode(SystemErrorKind::SharingViolation);
    InjectFault(c.service, c.nthCall, code, c.kind);
    return c.kind == FaultKind::Fail ? code : 0;
  }
  void ExpectStopped(const StreamResult& result, const FaultCase& c, uint32_t code) {
    EXPECT_EQ(result.outcome, StreamOutcome::Stopped);
    EXPECT_STREQ(result.message, c.message);
    EXPECT_EQ(result.caption, nullptr);
    if (code != 0) {
      EXPECT_EQ(result.systemError, code);
    }
    EXPECT_TRUE(scratch.Read("movie.avi") == broken);
    EXPECT_TRUE(elsewhere.Read("movie.avi") == valid);
  }

  Bytes valid;
  Bytes broken;
  const StreamControl none{};
};

class ScanBrokenFaultTest : public FailuresTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ScanBrokenFaultTest, StopsWithTheStepsMessageAndLeavesTheOlderTestFile) {
  elsewhere.Write("movie.crc", kOlder);
  const uint32_t code = Arm(GetParam());
  const StreamResult result = StreamScanBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.path().c_str(), none);
  ExpectStopped(result, GetParam(), code);
  EXPECT_TRUE(elsewhere.Read("movie.crc") == kOlder);
  EXPECT_EQ(FolderEntries(elsewhere.path()), (std::vector<std::string>{"movie.avi", "movie.crc", "movie.fix"}));
}

// Calls in order: open broken, size, slice, entries, probe of the older test file (opened and
// closed), the temporary, the header, the read, the entries, flush, close, rename.
INSTANTIATE_TEST_SUITE_P(
    EveryStep, ScanBrokenFaultTest,
    ::testing::Values(FaultCase{"OpenBroken", Service::OpenInputFile, 1, FaultKind::Fail, message::kOpenBroken},
                      FaultCase{"Size", Service::GetFileSize64, 1, FaultKind::Fail, message::kSizeBroken},
                      FaultCase{"Slice", Service::CommitMemory, 1, FaultKind::Fail, message::kAllocateBroken},
                      FaultCase{"Entries", Service::CommitMemory, 2, FaultKind::Fail, message::kAllocateTestBuffer},
                      FaultCase{"ProbeOfTheOlderFile", Service::OpenInputFile, 2, FaultKind::Fail, message::kCreateOutput},
                      FaultCase{"Temporary", Service::CreateTemporaryFile, 1, FaultKind::Fail, message::kCreateOutput},
                      FaultCase{"Header", Service::WriteAt, 1, FaultKind::Fail, message::kWriteOutput},
                      FaultCase{"Read", Service::ReadAt, 1, FaultKind::Fail, message::kReadBroken},
                      FaultCase{"ShortRead", Service::ReadAt, 1, FaultKind::ShortTransfer, message::kReadBroken},
                      FaultCase{"EntriesWrite", Service::WriteAt, 2, FaultKind::Fail, message::kWriteOutput},
                      FaultCase{"ShortWrite", Service::WriteAt, 2, FaultKind::ShortTransfer, message::kWriteOutput},
                      FaultCase{"Flush", Service::FlushFile, 1, FaultKind::Fail, message::kWriteOutput},
                      FaultCase{"Close", Service::CloseFile, 2, FaultKind::Fail, message::kWriteOutput},
                      FaultCase{"Rename", Service::ReplaceWithFile, 1, FaultKind::Fail, message::kWriteOutput}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

class ScanValidFaultTest : public FailuresTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ScanValidFaultTest, StopsWithTheStepsMessageAndLeavesTheOlderRepairFile) {
  elsewhere.Write("movie.fix", kOlder);
  const Bytes test = scratch.Read("movie.crc");
  const uint32_t code = Arm(GetParam());
  const StreamResult result = StreamScanValidFile(elsewhere.Path("movie.avi").c_str(), scratch.Path("movie.crc").c_str(),
                                                  elsewhere.path().c_str(), none);
  ExpectStopped(result, GetParam(), code);
  EXPECT_TRUE(scratch.Read("movie.crc") == test);
  EXPECT_TRUE(elsewhere.Read("movie.fix") == kOlder);
  EXPECT_EQ(FolderEntries(elsewhere.path()), (std::vector<std::string>{"movie.avi", "movie.fix"}));
}

// Calls in order: open valid, open test, sizes, slice, the test file's header, entries
// buffer, the valid slice, its entries, probe, temporary, header and list, the damaged
// blocks read again (two runs) and written, flush, close, rename.
INSTANTIATE_TEST_SUITE_P(
    EveryStep, ScanValidFaultTest,
    ::testing::Values(FaultCase{"OpenValid", Service::OpenInputFile, 1, FaultKind::Fail, message::kOpenValid},
                      FaultCase{"OpenTest", Service::OpenInputFile, 2, FaultKind::Fail, message::kOpenTest},
                      FaultCase{"SizeValid", Service::GetFileSize64, 1, FaultKind::Fail, message::kSizeValid},
                      FaultCase{"Slice", Service::CommitMemory, 1, FaultKind::Fail, message::kAllocateValid},
                      FaultCase{"SizeTest", Service::GetFileSize64, 2, FaultKind::Fail, message::kSizeTest},
                      FaultCase{"TestHeader", Service::ReadAt, 1, FaultKind::Fail, message::kReadTest},
                      FaultCase{"Entries", Service::CommitMemory, 2, FaultKind::Fail, message::kAllocateTest},
                      FaultCase{"ReadValid", Service::ReadAt, 2, FaultKind::Fail, message::kReadValid},
                      FaultCase{"ShortReadValid", Service::ReadAt, 2, FaultKind::ShortTransfer, message::kReadValid},
                      FaultCase{"ReadEntries", Service::ReadAt, 3, FaultKind::Fail, message::kReadTest},
                      FaultCase{"Probe", Service::OpenInputFile, 3, FaultKind::Fail, message::kCreateOutput},
                      FaultCase{"Temporary", Service::CreateTemporaryFile, 1, FaultKind::Fail, message::kCreateOutput},
                      FaultCase{"HeaderAndList", Service::WriteAt, 1, FaultKind::Fail, message::kWriteOutput},
                      FaultCase{"ReadBlockAgain", Service::ReadAt, 5, FaultKind::Fail, message::kReadValid},
                      FaultCase{"WriteBlock", Service::WriteAt, 3, FaultKind::ShortTransfer, message::kWriteOutput},
                      FaultCase{"Flush", Service::FlushFile, 1, FaultKind::Fail, message::kWriteOutput},
                      FaultCase{"Close", Service::CloseFile, 2, FaultKind::Fail, message::kWriteOutput},
                      FaultCase{"Rename", Service::ReplaceWithFile, 1, FaultKind::Fail, message::kWriteOutput}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

class RepairFaultTest : public FailuresTest, public ::testing::WithParamInterface<FaultCase> {};

// Until the first write the broken file is as it was; a repair cut short later is finished
// by running it again.
TEST_P(RepairFaultTest, StopsWithTheStepsMessageAndRunningItAgainFinishesTheRepair) {
  const Bytes repairFile = elsewhere.Read("movie.fix");
  const uint32_t code = Arm(GetParam());
  const StreamResult result = StreamRepairBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.Path("movie.fix").c_str(),
                                                     nullptr, none);
  EXPECT_EQ(result.outcome, StreamOutcome::Stopped);
  EXPECT_STREQ(result.message, GetParam().message);
  if (code != 0) {
    EXPECT_EQ(result.systemError, code);
  }
  EXPECT_TRUE(elsewhere.Read("movie.fix") == repairFile);
  const bool wrote = GetParam().service == Service::WriteAt || GetParam().service == Service::SetFileLength ||
                     GetParam().service == Service::FlushFile || GetParam().service == Service::CloseFile;
  EXPECT_EQ(result.brokenFileChanged, wrote);
  if (!wrote) {
    EXPECT_TRUE(scratch.Read("movie.avi") == broken);
  }

  ClearFaults();
  const StreamResult again = StreamRepairBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.Path("movie.fix").c_str(),
                                                    nullptr, none);
  EXPECT_EQ(again.outcome, StreamOutcome::Done);
  EXPECT_TRUE(scratch.Read("movie.avi") == valid);
}

// Calls in order: open broken, open repair, sizes, slice, header, list, blocks, the two
// writes, the length, flush, close of the broken file.
INSTANTIATE_TEST_SUITE_P(
    EveryStep, RepairFaultTest,
    ::testing::Values(FaultCase{"OpenBroken", Service::OpenInputFile, 1, FaultKind::Fail, message::kOpenBroken},
                      FaultCase{"OpenRepair", Service::OpenInputFile, 2, FaultKind::Fail, message::kOpenRepair},
                      FaultCase{"SizeBroken", Service::GetFileSize64, 1, FaultKind::Fail, message::kSizeBroken},
                      FaultCase{"SizeRepair", Service::GetFileSize64, 2, FaultKind::Fail, message::kSizeRepair},
                      FaultCase{"Slice", Service::CommitMemory, 1, FaultKind::Fail, message::kCommitRepairBuffer},
                      FaultCase{"Header", Service::ReadAt, 1, FaultKind::Fail, message::kReadRepair},
                      FaultCase{"List", Service::ReadAt, 2, FaultKind::ShortTransfer, message::kReadRepair},
                      FaultCase{"Blocks", Service::ReadAt, 3, FaultKind::Fail, message::kReadRepair},
                      FaultCase{"FirstWrite", Service::WriteAt, 1, FaultKind::Fail, message::kWriteRepaired},
                      FaultCase{"SecondWrite", Service::WriteAt, 2, FaultKind::ShortTransfer, message::kWriteRepaired},
                      FaultCase{"Length", Service::SetFileLength, 1, FaultKind::Fail, message::kWriteRepaired},
                      FaultCase{"Flush", Service::FlushFile, 1, FaultKind::Fail, message::kWriteRepaired},
                      FaultCase{"Close", Service::CloseFile, 1, FaultKind::Fail, message::kWriteRepaired}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// The check's own failures: a refused check with the step's message, nothing written.
TEST_F(FailuresTest, ACheckFileThatCannotBeReadRefusesTheRepair) {
  const struct {
    Service service;
    uint32_t nthCall;
    const char* message;
  } steps[] = {{Service::OpenInputFile, 3, message::kOpenTest},
               {Service::CommitMemory, 2, message::kCommitBrokenBuffer},
               {Service::GetFileSize64, 3, message::kSizeTest},
               {Service::ReadAt, 3, message::kReadTest},
               {Service::ReadAt, 4, message::kReadBroken},
               {Service::ReadAt, 5, message::kReadTest}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.message);
    ClearFaults();
    InjectFault(step.service, step.nthCall, SystemErrorCode(SystemErrorKind::SharingViolation));
    const StreamResult result = StreamRepairBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.Path("movie.fix").c_str(),
                                                       scratch.Path("movie.crc").c_str(), none);
    EXPECT_EQ(result.outcome, step.service == Service::CommitMemory ? StreamOutcome::Stopped : StreamOutcome::CheckRefused);
    EXPECT_STREQ(result.message, step.message);
    EXPECT_EQ(result.systemError, SystemErrorCode(SystemErrorKind::SharingViolation));
    EXPECT_FALSE(result.brokenFileChanged);
    EXPECT_TRUE(scratch.Read("movie.avi") == broken);
    EXPECT_EQ(OpenFileCount(), 0u);
  }
}

// A repair cut short by a stop after a few blocks, then run again.
TEST_F(FailuresTest, AStoppedRepairSaysItChangedTheFileAndRunningItAgainFinishesIt) {
  const Bytes many = RandomBytes(3, 40 * kBlock);
  Bytes damaged = many;
  for (uint64_t b = 1; b <= 40; b += 2) damaged[(b - 1) * kBlock + 7] ^= 0x80;
  scratch.Write("disk.img", damaged);
  elsewhere.Write("disk.fix", ReferenceRepairFile(many, ReferenceTestFile(damaged)));
  ProgressRecord record;
  record.stopAt = 3 * kBlock;
  const StreamResult stopped = StreamRepairBrokenFile(scratch.Path("disk.img").c_str(), elsewhere.Path("disk.fix").c_str(),
                                                      nullptr, ControlFor(&record));
  EXPECT_EQ(stopped.outcome, StreamOutcome::Cancelled);
  EXPECT_TRUE(stopped.brokenFileChanged);
  const Bytes partly = scratch.Read("disk.img");
  EXPECT_FALSE(partly == damaged);
  EXPECT_FALSE(partly == many);
  // Exactly the first three carried blocks were put in place, at block boundaries.
  EXPECT_TRUE(Part(partly, 0, 5 * kBlock) == Part(many, 0, 5 * kBlock));
  EXPECT_TRUE(Part(partly, 6 * kBlock, 7 * kBlock) == Part(damaged, 6 * kBlock, 7 * kBlock));

  const StreamResult again = StreamRepairBrokenFile(scratch.Path("disk.img").c_str(), elsewhere.Path("disk.fix").c_str(),
                                                    nullptr, StreamControl{});
  EXPECT_EQ(again.outcome, StreamOutcome::Done);
  EXPECT_TRUE(scratch.Read("disk.img") == many);
}

// Stopped scans leave nothing under the final name and no temporary.
TEST_F(FailuresTest, AStoppedScanLeavesNoOutputAndNoTemporary) {
  const Bytes big = RandomBytes(4, 3 * (1u << 20) + 5);
  scratch.Write("big.bin", big);
  elsewhere.Write("big.bin", WithDamage(big, {1}));
  ProgressRecord record;
  record.stopAt = 1;
  StreamResult result = StreamScanBrokenFile(scratch.Path("big.bin").c_str(), elsewhere.path().c_str(), ControlFor(&record));
  EXPECT_EQ(result.outcome, StreamOutcome::Cancelled);
  EXPECT_FALSE(elsewhere.Exists("big.crc"));
  EXPECT_EQ(record.calls.size(), 1u);

  scratch.Write("big.crc", ReferenceTestFile(big));
  ProgressRecord second;
  second.stopAt = 1;
  result = StreamScanValidFile(elsewhere.Path("big.bin").c_str(), scratch.Path("big.crc").c_str(), elsewhere.path().c_str(),
                               ControlFor(&second));
  EXPECT_EQ(result.outcome, StreamOutcome::Cancelled);
  EXPECT_EQ(FolderEntries(elsewhere.path()), (std::vector<std::string>{"big.bin", "movie.avi", "movie.fix"}));
}

// The progress reports count up to the total, slice by slice.
TEST_F(FailuresTest, ProgressCountsUpToTheTotal) {
  const Bytes big = RandomBytes(5, 2 * (1u << 20) + 100);
  scratch.Write("big.bin", big);
  ProgressRecord record;
  ASSERT_EQ(StreamScanBrokenFile(scratch.Path("big.bin").c_str(), scratch.path().c_str(), ControlFor(&record)).outcome,
            StreamOutcome::Done);
  ASSERT_EQ(record.calls.size(), 3u);
  EXPECT_EQ(record.calls[0], std::make_pair(uint64_t{1} << 20, uint64_t{big.size()}));
  EXPECT_EQ(record.calls[2], std::make_pair(uint64_t{big.size()}, uint64_t{big.size()}));
}

// An output name taken by something that may not be replaced is refused as creating the
// file would be, before anything is written: a folder, or one of the operation's own inputs.
TEST_F(FailuresTest, AnOutputNameThatMayNotBeReplacedIsRefused) {
  elsewhere.MakeFolder("movie.crc");
  StreamResult result = StreamScanBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.path().c_str(), none);
  EXPECT_EQ(result.outcome, StreamOutcome::Stopped);
  EXPECT_STREQ(result.message, message::kCreateOutput);
  // The system's reason is the one creating the file itself meets, as the dialog shows it.
  EXPECT_EQ(ScanBrokenFile(owner(), scratch.Path("movie.avi").c_str(), elsewhere.path().c_str()), 0);
  ExpectErrorBox(message::kCreateOutput, result.systemError);
  EXPECT_EQ(FolderEntries(elsewhere.path()), (std::vector<std::string>{"movie.avi", "movie.crc", "movie.fix"}));

  // The test file scanned into its own folder names itself as the output.
  const Bytes test = scratch.Read("movie.crc");
  result = StreamScanBrokenFile(scratch.Path("movie.crc").c_str(), scratch.path().c_str(), none);
  EXPECT_EQ(result.outcome, StreamOutcome::Stopped);
  EXPECT_STREQ(result.message, message::kCreateOutput);
  EXPECT_TRUE(scratch.Read("movie.crc") == test);
  EXPECT_EQ(FolderEntries(scratch.path()), (std::vector<std::string>{"movie.avi", "movie.crc"}));
}

}  // namespace
