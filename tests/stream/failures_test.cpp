// Every step of the streaming operations made to fail through the platform layer: the step's
// message with the system's error, nothing left open or allocated (the fixture's ledger
// check), no input changed, and no output half there: an older file of the output's name
// intact and no temporary file beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

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
  Step step;
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
  // Arms the fault (a system error the operation does not set itself, and not one it waits
  // out, as it does a file another program holds) and returns its code.
  uint32_t Arm(const FaultCase& c) {
    const uint32_t code = SystemErrorCode(SystemErrorKind::AccessDenied);
    InjectFault(c.service, c.nthCall, code, c.kind);
    return c.kind == FaultKind::Fail ? code : 0;
  }
  void ExpectStopped(const Outcome& result, const FaultCase& c, uint32_t code) {
    EXPECT_EQ(result.ending, Ending::Stopped);
    EXPECT_EQ(result.step, c.step);
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
  const Outcome result = StreamScanBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.path().c_str(), none);
  ExpectStopped(result, GetParam(), code);
  EXPECT_TRUE(elsewhere.Read("movie.crc") == kOlder);
  EXPECT_EQ(FolderEntries(elsewhere.path()), (std::vector<std::string>{"movie.avi", "movie.crc", "movie.fix"}));
}

// Calls in order: open broken, size, the ring's four slices, entries, probe of the older test
// file (opened and closed), the temporary, the header, the read, the entries, flush, close,
// rename.
INSTANTIATE_TEST_SUITE_P(
    EveryStep, ScanBrokenFaultTest,
    ::testing::Values(FaultCase{"OpenBroken", Service::OpenInputFile, 1, FaultKind::Fail, Step::OpenBroken},
                      FaultCase{"Size", Service::GetFileSize64, 1, FaultKind::Fail, Step::SizeBroken},
                      FaultCase{"Slice", Service::CommitMemory, 1, FaultKind::Fail, Step::AllocateBroken},
                      FaultCase{"LastSlice", Service::CommitMemory, 4, FaultKind::Fail, Step::AllocateBroken},
                      FaultCase{"Entries", Service::CommitMemory, 5, FaultKind::Fail, Step::AllocateTestFileBuffer},
                      FaultCase{"ProbeOfTheOlderFile", Service::OpenInputFile, 2, FaultKind::Fail, Step::CreateOutput},
                      FaultCase{"Temporary", Service::CreateTemporaryFile, 1, FaultKind::Fail, Step::CreateOutput},
                      FaultCase{"Header", Service::WriteAt, 1, FaultKind::Fail, Step::WriteOutput},
                      FaultCase{"Read", Service::ReadAt, 1, FaultKind::Fail, Step::ReadBroken},
                      FaultCase{"ShortRead", Service::ReadAt, 1, FaultKind::ShortTransfer, Step::ReadBroken},
                      FaultCase{"EntriesWrite", Service::WriteAt, 2, FaultKind::Fail, Step::WriteOutput},
                      FaultCase{"ShortWrite", Service::WriteAt, 2, FaultKind::ShortTransfer, Step::WriteOutput},
                      FaultCase{"Flush", Service::FlushFile, 1, FaultKind::Fail, Step::WriteOutput},
                      FaultCase{"Close", Service::CloseFile, 2, FaultKind::Fail, Step::WriteOutput},
                      FaultCase{"Rename", Service::ReplaceWithFile, 1, FaultKind::Fail, Step::WriteOutput}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

class ScanValidFaultTest : public FailuresTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ScanValidFaultTest, StopsWithTheStepsMessageAndLeavesTheOlderRepairFile) {
  elsewhere.Write("movie.fix", kOlder);
  const Bytes test = scratch.Read("movie.crc");
  const uint32_t code = Arm(GetParam());
  const Outcome result = StreamScanValidFile(elsewhere.Path("movie.avi").c_str(), scratch.Path("movie.crc").c_str(),
                                                  elsewhere.path().c_str(), none);
  ExpectStopped(result, GetParam(), code);
  EXPECT_TRUE(scratch.Read("movie.crc") == test);
  EXPECT_TRUE(elsewhere.Read("movie.fix") == kOlder);
  EXPECT_EQ(FolderEntries(elsewhere.path()), (std::vector<std::string>{"movie.avi", "movie.fix"}));
}

// Calls in order: open valid, open test, sizes, the ring's slices, the valid file's first bytes
// (an exchange file there is refused), the test file's header and first bytes (a repair file
// there is refused), the fingerprint's region hashes, the valid slice, its entries, the test
// file's hash, the older repair file's header (unreadable, it names no later round), the record
// of the broken file (the entries of the two carried blocks, and of the five sampled), the
// fingerprint part, probe,
// temporary, header and list, the damaged blocks read again (two runs) and written, the
// fingerprint part written, flush, close, rename.
INSTANTIATE_TEST_SUITE_P(
    EveryStep, ScanValidFaultTest,
    ::testing::Values(FaultCase{"OpenValid", Service::OpenInputFile, 1, FaultKind::Fail, Step::OpenValid},
                      FaultCase{"OpenTest", Service::OpenInputFile, 2, FaultKind::Fail, Step::OpenTest},
                      FaultCase{"SizeValid", Service::GetFileSize64, 1, FaultKind::Fail, Step::SizeValid},
                      FaultCase{"Slice", Service::CommitMemory, 1, FaultKind::Fail, Step::AllocateValid},
                      FaultCase{"SizeTest", Service::GetFileSize64, 2, FaultKind::Fail, Step::SizeTest},
                      FaultCase{"ValidFileKind", Service::ReadAt, 1, FaultKind::Fail, Step::ReadValid},
                      FaultCase{"TestHeader", Service::ReadAt, 2, FaultKind::Fail, Step::ReadTest},
                      FaultCase{"TestFileKind", Service::ReadAt, 3, FaultKind::Fail, Step::ReadTest},
                      FaultCase{"Regions", Service::CommitMemory, 5, FaultKind::Fail, Step::AllocateFingerprint},
                      FaultCase{"FingerprintPart", Service::CommitMemory, 6, FaultKind::Fail, Step::AllocateFingerprint},
                      FaultCase{"ReadValid", Service::ReadAt, 4, FaultKind::Fail, Step::ReadValid},
                      FaultCase{"ShortReadValid", Service::ReadAt, 4, FaultKind::ShortTransfer, Step::ReadValid},
                      FaultCase{"ReadEntries", Service::ReadAt, 5, FaultKind::Fail, Step::ReadTest},
                      FaultCase{"TestFileHash", Service::ReadAt, 6, FaultKind::Fail, Step::ReadTest},
                      FaultCase{"Probe", Service::OpenInputFile, 4, FaultKind::Fail, Step::CreateOutput},
                      FaultCase{"Temporary", Service::CreateTemporaryFile, 1, FaultKind::Fail, Step::CreateOutput},
                      FaultCase{"HeaderAndList", Service::WriteAt, 1, FaultKind::Fail, Step::WriteOutput},
                      FaultCase{"RecordValues", Service::ReadAt, 8, FaultKind::Fail, Step::ReadTest},
                      FaultCase{"RecordSample", Service::ReadAt, 10, FaultKind::ShortTransfer, Step::ReadTest},
                      FaultCase{"ReadBlockAgain", Service::ReadAt, 15, FaultKind::Fail, Step::ReadValid},
                      FaultCase{"WriteBlock", Service::WriteAt, 3, FaultKind::ShortTransfer, Step::WriteOutput},
                      FaultCase{"WriteFingerprint", Service::WriteAt, 4, FaultKind::Fail, Step::WriteOutput},
                      FaultCase{"Flush", Service::FlushFile, 1, FaultKind::Fail, Step::WriteOutput},
                      FaultCase{"Close", Service::CloseFile, 3, FaultKind::Fail, Step::WriteOutput},
                      FaultCase{"Rename", Service::ReplaceWithFile, 1, FaultKind::Fail, Step::WriteOutput}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

class RepairFaultTest : public FailuresTest, public ::testing::WithParamInterface<FaultCase> {};

// Until the first write the broken file is as it was; a repair cut short later is finished
// by running it again.
TEST_P(RepairFaultTest, StopsWithTheStepsMessageAndRunningItAgainFinishesTheRepair) {
  const Bytes repairFile = elsewhere.Read("movie.fix");
  const uint32_t code = Arm(GetParam());
  const Outcome result = StreamRepairBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.Path("movie.fix").c_str(),
                                                     RepairOptions{}, none);
  EXPECT_EQ(result.ending, Ending::Stopped);
  EXPECT_EQ(result.step, GetParam().step);
  if (code != 0) {
    EXPECT_EQ(result.systemError, code);
  }
  EXPECT_TRUE(elsewhere.Read("movie.fix") == repairFile);
  const bool wrote = GetParam().service == Service::WriteAt || GetParam().service == Service::SetFileLength ||
                     GetParam().service == Service::FlushFile || GetParam().service == Service::CloseFile ||
                     GetParam().step == Step::ReadBack;
  EXPECT_EQ(result.brokenFileChanged, wrote);
  if (!wrote) {
    EXPECT_TRUE(scratch.Read("movie.avi") == broken);
  }

  ClearFaults();
  const Outcome again = StreamRepairBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.Path("movie.fix").c_str(),
                                                    RepairOptions{}, none);
  EXPECT_EQ(again.ending, Ending::Done);
  EXPECT_TRUE(scratch.Read("movie.avi") == valid);
}

// Calls in order: open broken, open repair, sizes, slice, the broken file's first bytes (an
// exchange file there is refused), header, list, the fingerprint's
// header, its memory and head, the record's values and samples with the check, the read-back
// ring and region hashes, the buffer of the record's blocks, the follow-up's hashes; the five
// sampled blocks (1, 3, 4, 6, 7) and the two carried ones from each file; the blocks and what
// stands in their place (a block already in place is not written again), the two
// writes, flush, the read back, close of the broken file. (Its length is set only where it
// changes: a failed cut has its own test.)
INSTANTIATE_TEST_SUITE_P(
    EveryStep, RepairFaultTest,
    ::testing::Values(FaultCase{"OpenBroken", Service::OpenInputFile, 1, FaultKind::Fail, Step::OpenBroken},
                      FaultCase{"OpenRepair", Service::OpenInputFile, 2, FaultKind::Fail, Step::OpenRepair},
                      FaultCase{"SizeBroken", Service::GetFileSize64, 1, FaultKind::Fail, Step::SizeBroken},
                      FaultCase{"SizeRepair", Service::GetFileSize64, 2, FaultKind::Fail, Step::SizeRepair},
                      FaultCase{"Slice", Service::CommitMemory, 1, FaultKind::Fail, Step::CommitRepairBuffer},
                      FaultCase{"BrokenFileKind", Service::ReadAt, 1, FaultKind::Fail, Step::ReadBroken},
                      FaultCase{"Header", Service::ReadAt, 2, FaultKind::Fail, Step::ReadRepair},
                      FaultCase{"List", Service::ReadAt, 3, FaultKind::ShortTransfer, Step::ReadRepair},
                      FaultCase{"FingerprintHeader", Service::ReadAt, 4, FaultKind::Fail, Step::ReadRepair},
                      FaultCase{"FingerprintMemory", Service::CommitMemory, 2, FaultKind::Fail, Step::CommitRepairBuffer},
                      FaultCase{"Fingerprint", Service::ReadAt, 5, FaultKind::ShortTransfer, Step::ReadRepair},
                      FaultCase{"RecordValues", Service::ReadAt, 6, FaultKind::Fail, Step::ReadRepair},
                      FaultCase{"RecordSamples", Service::ReadAt, 7, FaultKind::ShortTransfer, Step::ReadRepair},
                      FaultCase{"ReadBackRing", Service::CommitMemory, 3, FaultKind::Fail, Step::AllocateReadBack},
                      FaultCase{"ReadBackRegions", Service::CommitMemory, 7, FaultKind::Fail, Step::AllocateReadBack},
                      FaultCase{"RecordBlocks", Service::CommitMemory, 8, FaultKind::Fail, Step::CommitBrokenBuffer},
                      FaultCase{"FollowUpHashes", Service::CommitMemory, 9, FaultKind::Fail, Step::AllocateReadBack},
                      FaultCase{"SampledBlock", Service::ReadAt, 8, FaultKind::Fail, Step::ReadBroken},
                      FaultCase{"LastSampledBlock", Service::ReadAt, 12, FaultKind::ShortTransfer, Step::ReadBroken},
                      FaultCase{"CarriedBlockOfTheBrokenFile", Service::ReadAt, 13, FaultKind::Fail, Step::ReadBroken},
                      FaultCase{"CarriedBlockOfTheRepairFile", Service::ReadAt, 16, FaultKind::Fail, Step::ReadRepair},
                      FaultCase{"Blocks", Service::ReadAt, 17, FaultKind::Fail, Step::ReadRepair},
                      FaultCase{"FirstWrite", Service::WriteAt, 1, FaultKind::Fail, Step::WriteRepaired},
                      FaultCase{"SecondWrite", Service::WriteAt, 2, FaultKind::ShortTransfer, Step::WriteRepaired},
                      FaultCase{"Flush", Service::FlushFile, 1, FaultKind::Fail, Step::WriteRepaired},
                      FaultCase{"ReadBack", Service::ReadAt, 21, FaultKind::ShortTransfer, Step::ReadBack},

                      FaultCase{"Close", Service::CloseFile, 1, FaultKind::Fail, Step::WriteRepaired}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

#ifndef _WIN32
// A file cut shorter while a scan reads it (Windows does not let another program cut a file
// the scan holds): the read's stop says the file changed, not that the disk failed.
TEST_F(FailuresTest, AFileThatShrinksWhileItIsReadIsReportedAsChanged) {
  std::string path = scratch.Path("big.bin");
  scratch.Write("big.bin", RandomBytes(6, 3 * (1u << 20)));
  StreamControl control;
  control.progress = [](void* file, uint64_t, uint64_t) { std::filesystem::resize_file(*static_cast<std::string*>(file), 5); };
  control.context = &path;
  const Outcome result = StreamScanBrokenFile(path.c_str(), elsewhere.path().c_str(), control);
  EXPECT_EQ(result.ending, Ending::Stopped);
  EXPECT_EQ(result.step, Step::ReadBroken);
  EXPECT_EQ(result.detail, StopDetail::FileChangedWhileRead);
  EXPECT_EQ(FolderEntries(elsewhere.path()), (std::vector<std::string>{"movie.avi", "movie.fix"}));
}

// A folder the user may write to but not list cannot be opened for its flush: that is no
// failure, and no warning either, since nothing could be done about it.
TEST_F(FailuresTest, AFolderThatCannotBeListedTakesTheOutputWithoutAWarning) {
  if (geteuid() == 0) GTEST_SKIP() << "root lists any folder";
  const std::string unlisted = elsewhere.MakeFolder("unlisted");
  ASSERT_EQ(chmod(unlisted.c_str(), 0300), 0);
  const Outcome result = StreamScanBrokenFile(scratch.Path("movie.avi").c_str(), unlisted.c_str(), none);
  EXPECT_EQ(result.ending, Ending::Done) << result;
  EXPECT_FALSE(result.outputMayNotSurvivePowerCut);
  ASSERT_EQ(chmod(unlisted.c_str(), 0700), 0);
  EXPECT_EQ(FolderEntries(unlisted), std::vector<std::string>{"movie.crc"});
}
#endif

// The check's own failures, the broken file's among them: a refused check with the step's
// message, nothing written.
TEST_F(FailuresTest, ACheckFileThatCannotBeReadRefusesTheRepair) {
  const struct {
    Service service;
    uint32_t nthCall;
    Step step;
  } steps[] = {{Service::OpenInputFile, 1, Step::OpenBroken},
               {Service::GetFileSize64, 1, Step::SizeBroken},
               {Service::OpenInputFile, 3, Step::OpenTest},
               {Service::CommitMemory, 8, Step::CommitBrokenBuffer},
               {Service::GetFileSize64, 3, Step::SizeTest},
               {Service::ReadAt, 8, Step::ReadTest},
               {Service::ReadAt, 9, Step::ReadBroken},
               {Service::ReadAt, 10, Step::ReadTest}};  // its hash, which the repair file names
  for (const auto& step : steps) {
    SCOPED_TRACE(static_cast<int>(step.step));
    ClearFaults();
    InjectFault(step.service, step.nthCall, SystemErrorCode(SystemErrorKind::AccessDenied));
    const Outcome result = StreamRepairBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.Path("movie.fix").c_str(),
                                                       RepairOptions{.checkFilePath = scratch.Path("movie.crc").c_str()}, none);
    EXPECT_EQ(result.ending, step.service == Service::CommitMemory ? Ending::Stopped : Ending::CheckRefused);
    EXPECT_EQ(result.step, step.step);
    EXPECT_EQ(result.systemError, SystemErrorCode(SystemErrorKind::AccessDenied));
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
  const Outcome stopped = StreamRepairBrokenFile(scratch.Path("disk.img").c_str(), elsewhere.Path("disk.fix").c_str(),
                                                      RepairOptions{}, ControlFor(&record));
  EXPECT_EQ(stopped.ending, Ending::Cancelled);
  EXPECT_TRUE(stopped.brokenFileChanged);
  const Bytes partly = scratch.Read("disk.img");
  EXPECT_FALSE(partly == damaged);
  EXPECT_FALSE(partly == many);
  // Exactly the first three carried blocks were put in place, at block boundaries.
  EXPECT_TRUE(Part(partly, 0, 5 * kBlock) == Part(many, 0, 5 * kBlock));
  EXPECT_TRUE(Part(partly, 6 * kBlock, 7 * kBlock) == Part(damaged, 6 * kBlock, 7 * kBlock));

  const Outcome again = StreamRepairBrokenFile(scratch.Path("disk.img").c_str(), elsewhere.Path("disk.fix").c_str(),
                                                    RepairOptions{}, StreamControl{});
  EXPECT_EQ(again.ending, Ending::Done);
  EXPECT_TRUE(scratch.Read("disk.img") == many);
}

// Stopped scans leave nothing under the final name and no temporary.
TEST_F(FailuresTest, AStoppedScanLeavesNoOutputAndNoTemporary) {
  const Bytes big = RandomBytes(4, 3 * (1u << 20) + 5);
  scratch.Write("big.bin", big);
  elsewhere.Write("big.bin", WithDamage(big, {1}));
  ProgressRecord record;
  record.stopAt = 1;
  Outcome result = StreamScanBrokenFile(scratch.Path("big.bin").c_str(), elsewhere.path().c_str(), ControlFor(&record));
  EXPECT_EQ(result.ending, Ending::Cancelled);
  EXPECT_FALSE(elsewhere.Exists("big.crc"));
  EXPECT_EQ(record.calls.size(), 1u);

  scratch.Write("big.crc", ReferenceTestFile(big));
  ProgressRecord second;
  second.stopAt = 1;
  result = StreamScanValidFile(elsewhere.Path("big.bin").c_str(), scratch.Path("big.crc").c_str(), elsewhere.path().c_str(),
                               ControlFor(&second));
  EXPECT_EQ(result.ending, Ending::Cancelled);
  EXPECT_EQ(FolderEntries(elsewhere.path()), (std::vector<std::string>{"big.bin", "movie.avi", "movie.fix"}));
}

// The progress reports count up to the total, slice by slice.
TEST_F(FailuresTest, ProgressCountsUpToTheTotal) {
  const Bytes big = RandomBytes(5, 2 * (1u << 20) + 100);
  scratch.Write("big.bin", big);
  ProgressRecord record;
  ASSERT_EQ(StreamScanBrokenFile(scratch.Path("big.bin").c_str(), scratch.path().c_str(), ControlFor(&record)).ending,
            Ending::Done);
  ASSERT_EQ(record.calls.size(), 3u);
  EXPECT_EQ(record.calls[0], std::make_pair(uint64_t{1} << 20, uint64_t{big.size()}));
  EXPECT_EQ(record.calls[2], std::make_pair(uint64_t{big.size()}, uint64_t{big.size()}));
}

// An output name taken by something that may not be replaced is refused as creating the
// file would be, before anything is written: a folder, or one of the operation's own inputs.
TEST_F(FailuresTest, AnOutputNameThatMayNotBeReplacedIsRefused) {
  elsewhere.MakeFolder("movie.crc");
  Outcome result = StreamScanBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.path().c_str(), none);
  EXPECT_EQ(result.ending, Ending::Stopped);
  EXPECT_EQ(result.step, Step::CreateOutput);
  // The system's reason is the one creating the file itself meets.
  EXPECT_EQ(result.systemError, SystemErrorCode(SystemErrorKind::IsFolder)) << SystemText(result.systemError);
  EXPECT_EQ(FolderEntries(elsewhere.path()), (std::vector<std::string>{"movie.avi", "movie.crc", "movie.fix"}));

  // The test file scanned into its own folder names itself as the output.
  const Bytes test = scratch.Read("movie.crc");
  result = StreamScanBrokenFile(scratch.Path("movie.crc").c_str(), scratch.path().c_str(), none);
  EXPECT_EQ(result.ending, Ending::Stopped);
  EXPECT_EQ(result.step, Step::CreateOutput);
  EXPECT_TRUE(scratch.Read("movie.crc") == test);
  EXPECT_EQ(FolderEntries(scratch.path()), (std::vector<std::string>{"movie.avi", "movie.crc"}));
}

}  // namespace
