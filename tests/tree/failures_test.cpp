// Every new platform call of the three folder operations made to fail: the right step, the
// entry it concerns skipped and told or the operation stopped, nothing left open or held (the
// fixture's ledger), no input changed, no temporary left behind; and a repair cut short by a
// failure is finished by running it again.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/tree/tree_test.h"

namespace {

struct FaultCase {
  const char* name;
  Service service;
  uint32_t nthCall;
  FaultKind kind;
  Step step;
  const char* skipped;  // the entry told as skipped; null: the operation stops at step
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) { return out << c.name; }

std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; }

constexpr FaultKind kFail = FaultKind::Fail;
constexpr FaultKind kShort = FaultKind::ShortTransfer;

// The valid tree, and a broken copy with a damaged file, a folder renamed by case, a missing
// folder with a file, and an extra file and folder.
class FolderFaultTest : public TreeTest, public ::testing::WithParamInterface<FaultCase> {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    valid = {{"Dir", kFolderMark}, {"Dir/p.bin", Noise(1, 3 * 4096)}, {"new", kFolderMark}, {"new/w.bin", Noise(2, 5000)}};
    broken = {{"dir", kFolderMark}, {"dir/p.bin", Noise(1, 3 * 4096)}, {"x.tmp", "x"}, {"old", kFolderMark}};
    broken["dir/p.bin"][4100] ^= 1;
    broken["dir/p.bin"] += "tail";
    MakeTree(Valid(), valid);
    MakeTree(Broken(), broken);
    // Older than the broken files, so that every file the repair writes takes a time.
    for (const char* file : {"Dir/p.bin", "new/w.bin"}) SetStamp(Valid(), file, 0640, kValidTime);
  }
  // Gives dir/p.bin a second name outside the tree, makes the exchange, and repairs with the
  // fault armed; returns the repair's outcome, the faults cleared.
  TreeOutcome RepairFileOfTwoNames(const std::string& secondName, Service service) {
    std::filesystem::create_hard_link(Broken() + "/dir/p.bin", secondName);
    EXPECT_EQ(ScanBroken().outcome.ending, Ending::Done);
    EXPECT_EQ(ScanValid().outcome.ending, Ending::Done);
    ClearFaults();
    InjectFault(service, 1, SystemErrorCode(SystemErrorKind::AccessDenied));
    const TreeOutcome faulted = Repair(true);
    ClearFaults();
    return faulted;
  }
  // The fault armed, with an error of the system's the operations do not set themselves and
  // do not wait out.
  void Arm() {
    const FaultCase& c = GetParam();
    InjectFault(c.service, c.nthCall, SystemErrorCode(SystemErrorKind::AccessDenied), c.kind);
  }
  void ExpectFault(const TreeOutcome& result) {
    const FaultCase& c = GetParam();
    if (c.skipped == nullptr) {
      EXPECT_EQ(result.outcome.ending, Ending::Stopped) << result.outcome;
      EXPECT_EQ(result.outcome.step, c.step) << result.outcome;
      if (c.kind == kFail) {
        EXPECT_EQ(result.outcome.systemError, SystemErrorCode(SystemErrorKind::AccessDenied));
      }
      return;
    }
    EXPECT_EQ(result.outcome.ending, Ending::Done) << result.outcome;
    const auto skipped = EntriesWith(result, EntryEvent::Skipped);
    ASSERT_EQ(skipped.count(c.skipped), 1u) << "not skipped: " << c.skipped;
    EXPECT_EQ(skipped.at(c.skipped).step, c.step);
  }
  // No temporary of an output or of a file being made is left anywhere.
  void ExpectNoTemporary() {
    for (const std::string& root : {outputs.path(), Broken(), Valid()}) {
      for (const auto& [path, content] : ReadTree(root)) EXPECT_EQ(path.find(".varnell-"), std::string::npos) << path;
    }
  }

  TreeContents valid;
  TreeContents broken;
};

using ScanBrokenFolderFaultTest = FolderFaultTest;

TEST_P(ScanBrokenFolderFaultTest, StopsOrSkipsTheEntryAndLeavesNoTemporary) {
  outputs.Write("tree.crc", {'o', 'l', 'd'});
  Arm();
  const TreeOutcome result = ScanBroken();
  ExpectFault(result);
  ClearFaults();
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), broken), "");
  ExpectNoTemporary();
  if (GetParam().skipped == nullptr) {
    EXPECT_TRUE(outputs.Read("tree.crc") == Bytes({'o', 'l', 'd'}));
  } else {
    // A test file with the entry skipped still holds together for the next step.
    EXPECT_EQ(ScanValid().outcome.ending, Ending::Done);
  }
}

// Calls in order: the folder, its listing, "dir" and "old" opened and listed, the ring of four
// slices, the entries' buffer, the probe of the older test file, its temporary, the header;
// then the entries: "dir", "old", "x.tmp" (opened, sized, read), "dir/p.bin" (its folder,
// opened, sized, read); the header again, the length, flush, close, rename.
INSTANTIATE_TEST_SUITE_P(
    EveryCall, ScanBrokenFolderFaultTest,
    ::testing::Values(FaultCase{"OpenFolder", Service::OpenFolder, 1, kFail, Step::OpenBrokenFolder, nullptr},
                      FaultCase{"ListTop", Service::ListFolder, 1, kFail, Step::ListFolder, nullptr},
                      FaultCase{"OpenSubfolder", Service::OpenSubfolder, 1, kFail, Step::ListFolder, "dir"},
                      FaultCase{"ListSubfolder", Service::ListFolder, 2, kFail, Step::ListFolder, "dir"},
                      FaultCase{"Slice", Service::CommitMemory, 1, kFail, Step::AllocateBroken, nullptr},
                      FaultCase{"LastSlice", Service::CommitMemory, 4, kFail, Step::AllocateBroken, nullptr},
                      FaultCase{"Entries", Service::CommitMemory, 5, kFail, Step::AllocateTestFileBuffer, nullptr},
                      FaultCase{"Temporary", Service::CreateTemporaryFile, 1, kFail, Step::CreateOutput, nullptr},
                      FaultCase{"Header", Service::WriteAt, 1, kFail, Step::WriteOutput, nullptr},
                      FaultCase{"OpenFile", Service::OpenFileIn, 1, kFail, Step::OpenBroken, "x.tmp"},
                      FaultCase{"SizeFile", Service::GetFileSize64, 1, kFail, Step::SizeBroken, "x.tmp"},
                      FaultCase{"ReadFile", Service::ReadAt, 1, kShort, Step::ReadBroken, "x.tmp"},
                      FaultCase{"FileFolder", Service::OpenSubfolder, 3, kFail, Step::OpenBroken, "dir/p.bin"},
                      FaultCase{"ReadSecondFile", Service::ReadAt, 2, kFail, Step::ReadBroken, "dir/p.bin"},
                      FaultCase{"Record", Service::WriteAt, 4, kShort, Step::WriteOutput, nullptr},
                      FaultCase{"Length", Service::SetFileLength, 1, kFail, Step::WriteOutput, nullptr},
                      FaultCase{"Flush", Service::FlushFile, 1, kFail, Step::WriteOutput, nullptr},
                      FaultCase{"Rename", Service::ReplaceWithFile, 1, kFail, Step::WriteOutput, nullptr}),
    CaseName);

using ScanValidFolderFaultTest = FolderFaultTest;

TEST_P(ScanValidFolderFaultTest, StopsOrSkipsTheEntryAndLeavesNoTemporary) {
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  const Bytes testFile = ReadWholeFile(TestFile());
  ClearFaults();
  Arm();
  const TreeOutcome result = ScanValid();
  ExpectFault(result);
  ClearFaults();
  EXPECT_EQ(TreeDifference(ReadTree(Valid()), valid), "");
  EXPECT_TRUE(ReadWholeFile(TestFile()) == testFile);
  ExpectNoTemporary();
  if (GetParam().skipped == nullptr) {
    EXPECT_FALSE(outputs.Exists("tree.fix"));
  }
}

// Calls in order: the folder, the test file opened, sized, its buffer, its header and
// records read; the listing; the ring of four slices, the record's buffer; then the records: the extra entries, the
// rename of "Dir", "Dir/p.bin" (its folder, opened, sized, read, its checksums, the test file's
// entry of its damaged block and of the two sampled, its stamp, its block read again), the new
// folder, "new/w.bin" (its folder, opened, sized, its stamp, read); the header,
// the length, flush, close, rename.
INSTANTIATE_TEST_SUITE_P(
    EveryCall, ScanValidFolderFaultTest,
    ::testing::Values(FaultCase{"OpenFolder", Service::OpenFolder, 1, kFail, Step::OpenValidFolder, nullptr},
                      FaultCase{"OpenTest", Service::OpenInputFile, 1, kFail, Step::OpenTest, nullptr},
                      FaultCase{"SizeTest", Service::GetFileSize64, 1, kFail, Step::SizeTest, nullptr},
                      FaultCase{"TestBuffer", Service::CommitMemory, 1, kFail, Step::AllocateTest, nullptr},
                      FaultCase{"TestHeader", Service::ReadAt, 1, kFail, Step::ReadTest, nullptr},
                      FaultCase{"TestRecords", Service::ReadAt, 2, kShort, Step::ReadTest, nullptr},
                      FaultCase{"ListTop", Service::ListFolder, 1, kFail, Step::ListFolder, nullptr},
                      FaultCase{"ListSubfolder", Service::ListFolder, 2, kFail, Step::ListFolder, "Dir"},
                      FaultCase{"Slice", Service::CommitMemory, 2, kFail, Step::AllocateValid, nullptr},
                      FaultCase{"LastSlice", Service::CommitMemory, 5, kFail, Step::AllocateValid, nullptr},
                      FaultCase{"Entries", Service::CommitMemory, 6, kFail, Step::AllocateTest, nullptr},
                      FaultCase{"Temporary", Service::CreateTemporaryFile, 1, kFail, Step::CreateOutput, nullptr},
                      FaultCase{"FileFolder", Service::OpenSubfolder, 3, kFail, Step::OpenValid, "Dir/p.bin"},
                      FaultCase{"OpenFile", Service::OpenFileIn, 1, kFail, Step::OpenValid, "Dir/p.bin"},
                      FaultCase{"SizeFile", Service::GetFileSize64, 2, kFail, Step::SizeValid, "Dir/p.bin"},
                      FaultCase{"ReadFile", Service::ReadAt, 3, kShort, Step::ReadValid, "Dir/p.bin"},
                      FaultCase{"Checksums", Service::ReadAt, 4, kFail, Step::ReadTest, nullptr},
                      FaultCase{"RecordValue", Service::ReadAt, 5, kFail, Step::ReadTest, nullptr},
                      FaultCase{"RecordSample", Service::ReadAt, 7, kShort, Step::ReadTest, nullptr},
                      FaultCase{"StampOfDamaged", Service::GetFileStamp, 1, kFail, Step::ReadValidStamp, "Dir/p.bin"},
                      FaultCase{"BlockAgain", Service::ReadAt, 8, kFail, Step::ReadValid, "Dir/p.bin"},
                      FaultCase{"StampOfMissing", Service::GetFileStamp, 2, kFail, Step::ReadValidStamp, "new/w.bin"},
                      FaultCase{"MissingFile", Service::ReadAt, 9, kFail, Step::ReadValid, "new/w.bin"},
                      FaultCase{"Record", Service::WriteAt, 3, kShort, Step::WriteOutput, nullptr},
                      FaultCase{"Length", Service::SetFileLength, 1, kFail, Step::WriteOutput, nullptr},
                      FaultCase{"Flush", Service::FlushFile, 1, kFail, Step::WriteOutput, nullptr},
                      FaultCase{"Rename", Service::ReplaceWithFile, 1, kFail, Step::WriteOutput, nullptr}),
    CaseName);

using RepairFolderFaultTest = FolderFaultTest;

TEST_P(RepairFolderFaultTest, StopsOrSkipsTheEntryAndRunningItAgainFinishesTheRepair) {
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  const Bytes repairFile = ReadWholeFile(RepairFile());
  ClearFaults();
  Arm();
  const TreeOutcome result = Repair(true);
  ExpectFault(result);
  ClearFaults();
  EXPECT_TRUE(ReadWholeFile(RepairFile()) == repairFile);
  ExpectNoTemporary();
  EXPECT_EQ(Repair(true).outcome.ending, Ending::Done);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
}

// Calls in order: the repair file opened, sized, its buffer, its header and records read;
// the folder; the slice, the region hashes, the buffer of the record's blocks; then the
// records: "old" (kind, removed), "x.tmp" (kind, removed), the rename of "dir" (kind,
// renamed), "Dir/p.bin" (its folder, kind, opened, the record's numbers, values and samples
// read, the two sampled blocks and the carried one from both files read, its size, its numbers
// and blocks read with the file's block to see what is in place, its links counted, its numbers
// and blocks read, written, the length, flush, read back, its time read and set, close), "new"
// (kind, made), "new/w.bin" (its folder, kind, temporary, read, written, its time set, flush,
// named, close, renamed).
INSTANTIATE_TEST_SUITE_P(
    EveryCall, RepairFolderFaultTest,
    ::testing::Values(FaultCase{"OpenRepair", Service::OpenInputFile, 1, kFail, Step::OpenRepair, nullptr},
                      FaultCase{"SizeRepair", Service::GetFileSize64, 1, kFail, Step::SizeRepair, nullptr},
                      FaultCase{"ReadBuffer", Service::CommitMemory, 1, kFail, Step::CommitRepairBuffer, nullptr},
                      FaultCase{"Header", Service::ReadAt, 1, kFail, Step::ReadRepair, nullptr},
                      FaultCase{"Records", Service::ReadAt, 2, kShort, Step::ReadRepair, nullptr},
                      FaultCase{"OpenFolder", Service::OpenFolder, 1, kFail, Step::OpenBrokenFolder, nullptr},
                      FaultCase{"Slice", Service::CommitMemory, 2, kFail, Step::CommitBrokenBuffer, nullptr},
                      FaultCase{"KindOfExtra", Service::GetEntryKind, 1, kFail, Step::RemoveExtra, "old"},
                      FaultCase{"RemoveFolder", Service::RemoveFolderIn, 1, kFail, Step::RemoveExtra, "old"},
                      FaultCase{"RemoveFile", Service::RemoveFileIn, 1, kFail, Step::RemoveExtra, "x.tmp"},
                      FaultCase{"RenameByCase", Service::RenameIn, 1, kFail, Step::RenameEntry, "Dir"},
                      FaultCase{"FileFolder", Service::OpenSubfolder, 1, kFail, Step::OpenBrokenFolder, "Dir/p.bin"},
                      FaultCase{"KindOfFile", Service::GetEntryKind, 4, kFail, Step::OpenBroken, "Dir/p.bin"},
                      FaultCase{"OpenFile", Service::OpenFileIn, 1, kFail, Step::OpenBroken, "Dir/p.bin"},
                      FaultCase{"RecordBuffer", Service::CommitMemory, 4, kFail, Step::CommitBrokenBuffer, nullptr},
                      FaultCase{"RecordNumbers", Service::ReadAt, 3, kFail, Step::ReadRepair, nullptr},
                      FaultCase{"RecordSamples", Service::ReadAt, 5, kShort, Step::ReadRepair, nullptr},
                      FaultCase{"SampledBlock", Service::ReadAt, 6, kFail, Step::ReadBroken, nullptr},
                      FaultCase{"CarriedBlock", Service::ReadAt, 9, kFail, Step::ReadRepair, nullptr},
                      FaultCase{"SizeBeforeBlocks", Service::GetFileSize64, 3, kFail, Step::SizeBroken, nullptr},
                      FaultCase{"InPlaceNumbers", Service::ReadAt, 10, kFail, Step::ReadRepair, nullptr},
                      FaultCase{"InPlaceBlock", Service::ReadAt, 12, kShort, Step::ReadBroken, nullptr},
                      FaultCase{"Links", Service::GetFileLinkCount, 1, kFail, Step::SizeBroken, nullptr},
                      FaultCase{"Blocks", Service::ReadAt, 14, kFail, Step::ReadRepair, nullptr},
                      FaultCase{"WriteBlock", Service::WriteAt, 1, kShort, Step::WriteRepaired, nullptr},
                      FaultCase{"Length", Service::SetFileLength, 1, kFail, Step::WriteRepaired, nullptr},
                      FaultCase{"Flush", Service::FlushFile, 1, kFail, Step::WriteRepaired, nullptr},
                      FaultCase{"ReadBack", Service::ReadAt, 15, kFail, Step::ReadBroken, nullptr},
                      FaultCase{"TimeRead", Service::GetFileStamp, 1, kFail, Step::SetFileStamp, "Dir/p.bin"},
                      FaultCase{"TimeSet", Service::SetModificationTime, 1, kFail, Step::SetFileStamp, "Dir/p.bin"},
                      FaultCase{"Close", Service::CloseFile, 2, kFail, Step::WriteRepaired, nullptr},
                      FaultCase{"MakeFolder", Service::CreateSubfolder, 1, kFail, Step::CreateFolder, "new"},
                      FaultCase{"Temporary", Service::CreateTemporaryIn, 1, kFail, Step::CreateOutput, "new/w.bin"},
                      FaultCase{"CopyRead", Service::ReadAt, 16, kFail, Step::ReadRepair, nullptr},
                      FaultCase{"CopyWrite", Service::WriteAt, 2, kFail, Step::WriteRepaired, nullptr},
                      FaultCase{"CopyTime", Service::SetModificationTime, 2, kFail, Step::SetFileStamp, "new/w.bin"},
                      FaultCase{"CopyFlush", Service::FlushFile, 2, kFail, Step::WriteRepaired, nullptr},
                      FaultCase{"CopyNamed", Service::NameTemporary, 1, kFail, Step::WriteRepaired, nullptr},
                      FaultCase{"NewName", Service::RenameIn, 2, kFail, Step::RenameEntry, "new/w.bin"}),
    CaseName);

// A file with a second name is patched in a copy that takes its place; when the copy cannot be
// made the file is skipped at the copy's creation, closed, and left as it was with its other
// name, the repair goes on, and the next run repairs it.
TEST_F(FolderFaultTest, AFileOfTwoNamesWhoseCopyCannotBeMadeIsSkippedAndLeftClosed) {
  const std::string secondName = scratch.Path("second-name.bin");
  const Bytes damaged(broken["dir/p.bin"].begin(), broken["dir/p.bin"].end());
  const TreeOutcome faulted = RepairFileOfTwoNames(secondName, Service::CreateTemporaryIn);
  EXPECT_EQ(OpenFileCount(), 0u);
  ASSERT_EQ(faulted.outcome.ending, Ending::Done) << faulted.outcome;
  const auto skipped = EntriesWith(faulted, EntryEvent::Skipped);
  ASSERT_EQ(skipped.count("Dir/p.bin"), 1u);
  EXPECT_EQ(skipped.at("Dir/p.bin").step, Step::CreateOutput);
  EXPECT_EQ(skipped.at("Dir/p.bin").systemError, SystemErrorCode(SystemErrorKind::AccessDenied));
  EXPECT_EQ(EntriesWith(faulted, EntryEvent::Created).count("new/w.bin"), 1u) << "the repair goes on";
  EXPECT_TRUE(ReadWholeFile(Broken() + "/Dir/p.bin") == damaged);
  ExpectNoTemporary();

#ifndef _WIN32
  // Under Wine a copy cannot take its file's attributes (the repair stops at
  // KeepFileAttributes): the rerun through a copy is checked on Linux.
  const TreeOutcome rerun = Repair(true);
  ASSERT_EQ(rerun.outcome.ending, Ending::Done) << rerun.outcome;
  EXPECT_TRUE(EntriesWith(rerun, EntryEvent::Repaired).at("Dir/p.bin").throughCopy);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
  EXPECT_TRUE(ReadWholeFile(secondName) == damaged) << "the other name keeps its bytes";
#endif
}

// The copy of a file with a second name is made with the file's own bits, read first: when
// they cannot be read the repair stops there, nothing open, the file and its other name as
// they were, and no copy left.
TEST_F(FolderFaultTest, AFileOfTwoNamesWhoseBitsCannotBeReadStopsTheRepairUnchanged) {
  const std::string secondName = scratch.Path("second-name.bin");
  const Bytes damaged(broken["dir/p.bin"].begin(), broken["dir/p.bin"].end());
  const TreeOutcome faulted = RepairFileOfTwoNames(secondName, Service::GetFileStamp);
  EXPECT_EQ(OpenFileCount(), 0u);
  EXPECT_EQ(faulted.outcome.ending, Ending::Stopped);
  EXPECT_EQ(faulted.outcome.step, Step::KeepFileAttributes);
  EXPECT_EQ(faulted.stoppedAt, "Dir/p.bin");
  EXPECT_TRUE(ReadWholeFile(Broken() + "/Dir/p.bin") == damaged);
  EXPECT_TRUE(ReadWholeFile(secondName) == damaged);
  ExpectNoTemporary();
}

// A proof opens a file for reading until it knows its size; the calls only that path makes,
// made to fail. "cut.bin" is longer in the broken folder, with blocks that agree: a patch
// without blocks that sets the length, so it is opened again for writing.
TEST_F(FolderFaultTest, AProofsOwnCallsMadeToFailSkipTheirEntry) {
  valid = {{"cut.bin", Noise(3, 5000)}, {"same.bin", Noise(4, 6000)}};
  broken = {{"cut.bin", Noise(3, 5000) + std::string(100, '\0')}, {"same.bin", Noise(4, 6000)}};
  RemoveTree(Valid());
  RemoveTree(Broken());
  MakeTree(Valid(), valid);
  MakeTree(Broken(), broken);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValidFolder(Valid().c_str(), TestFile().c_str(), outputs.path().c_str(), {}, true).outcome.ending, Ending::Done);
  // The repair file is sized first; "cut.bin" comes before "same.bin".
  const struct {
    Service service;
    uint32_t nthCall;
    Step step;
  } cases[] = {{Service::GetFileSize64, 2, Step::SizeBroken}, {Service::OpenFileIn, 2, Step::OpenBroken}};
  for (const auto& c : cases) {
    ClearFaults();
    InjectFault(c.service, c.nthCall, SystemErrorCode(SystemErrorKind::AccessDenied));
    const TreeOutcome result = Repair();
    ClearFaults();
    ASSERT_EQ(result.outcome.ending, Ending::Done) << result.outcome;
    const auto skipped = EntriesWith(result, EntryEvent::Skipped);
    ASSERT_EQ(skipped.count("cut.bin"), 1u);
    EXPECT_EQ(skipped.at("cut.bin").step, c.step);
    EXPECT_EQ(skipped.at("cut.bin").systemError, SystemErrorCode(SystemErrorKind::AccessDenied));
    EXPECT_EQ(EntriesWith(result, EntryEvent::Verified).count("same.bin"), 1u);
    EXPECT_EQ(TreeDifference(ReadTree(Broken()), broken), "");
    EXPECT_EQ(OpenFileCount(), 0u);
  }
  EXPECT_EQ(Repair().outcome.ending, Ending::Done);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
}

// A file read through the working thread's ring whose read fails midway is skipped once the
// slices already handed over are done with, and the files after it are read as ever: the valid
// scan finds them alike. a.bin has three slices, b.bin two, so both go through the ring.
TEST_F(FolderFaultTest, AFileWhoseReadFailsMidwayInTheRingIsSkippedAndTheNextAreReadAsEver) {
  valid = {{"a.bin", Noise(6, (2u << 20) + 100)}, {"b.bin", Noise(7, (1u << 20) + 100)}, {"c.txt", "c"}};
  RemoveTree(Valid());
  RemoveTree(Broken());
  MakeTree(Valid(), valid);
  MakeTree(Broken(), valid);
  // The broken scan's second read is a.bin's second slice; the valid scan reads the test file's
  // header and records, then a.bin's first slice and its checksums, then its second slice.
  const struct {
    bool validSide;
    uint32_t nthRead;
    Step step;
  } cases[] = {{false, 2, Step::ReadBroken}, {true, 5, Step::ReadValid}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.validSide ? "valid scan" : "broken scan");
    if (c.validSide) {
      ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
    }
    ClearFaults();
    InjectFault(Service::ReadAt, c.nthRead, SystemErrorCode(SystemErrorKind::AccessDenied));
    const TreeOutcome faulted = c.validSide ? ScanValid() : ScanBroken();
    ClearFaults();
    EXPECT_EQ(OpenFileCount(), 0u);
    const auto skipped = EntriesWith(faulted, EntryEvent::Skipped);
    ASSERT_EQ(skipped.count("a.bin"), 1u) << faulted.outcome;
    EXPECT_EQ(skipped.at("a.bin").step, c.step);
    EXPECT_EQ(skipped.at("a.bin").systemError, SystemErrorCode(SystemErrorKind::AccessDenied));
    const TreeOutcome compared = c.validSide ? faulted : ScanValid();
    EXPECT_EQ(compared.outcome.ending, Ending::Identical) << compared.outcome;
    EXPECT_EQ(EntriesWith(compared, EntryEvent::Damaged).size(), 0u);
  }
}

}  // namespace
