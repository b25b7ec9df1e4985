// A folder repair that never makes a file worse and always finishes: a file that is not the one
// its record describes is left and named, a file made since the scan is kept, a file of other
// names is repaired in a copy, a pipe never holds the repair up; a repair stopped anywhere is
// finished by running it again, which leaves no temporary and writes no whole file twice; and
// the files that still differ come back through the folder follow-up with exactly their blocks.
#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "core/file_kinds.h"
#include "platform/temporary_name.h"
#include "tests/tree/tree_test.h"

namespace {

constexpr size_t kBlock = 4096;

// A text with byte at changed. Out of line: GCC 12 at -O3 takes the write into a text made in
// place for one into its short-text buffer.
[[gnu::noinline]] std::string Changed(std::string text, size_t at) {
  text.at(at) = static_cast<char>(text.at(at) ^ 0x33);
  return text;
}

// Two 512-byte sectors of a block swapped: the block checksum cannot see it.
std::string Swapped(std::string text, size_t block) {
  const size_t at = block * kBlock;
  std::swap_ranges(text.begin() + static_cast<std::ptrdiff_t>(at), text.begin() + static_cast<std::ptrdiff_t>(at + 512),
                   text.begin() + static_cast<std::ptrdiff_t>(at + 512));
  return text;
}

// Every case with the plain folder test file and with the compact one (the smallest budget,
// beside a file both sides hold alike that makes the plain form longer than it).
class FolderPairingTest : public TreeTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    const std::string x = Noise(11, 12 * kBlock + 7);
    valid = {{"x.bin", x}, {"keep.txt", "keep"}, {"new.txt", "made by the repair"}, {"Sub", kFolderMark}};
    broken = {{"x.bin", Changed(Changed(Changed(x, 2 * kBlock), 7 * kBlock), 11 * kBlock)}, {"keep.txt", "keeq"}, {"sub", kFolderMark}};
    if (GetParam()) {
      choice.budget = 4096;
      valid["bulk.bin"] = broken["bulk.bin"] = Noise(12, 1100 * kBlock);
    }
    MakeTree(Valid(), valid);
    MakeTree(Broken(), broken);
    ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
    const Bytes start = outputs.Read("tree.crc");
    ASSERT_EQ(ReadExchangeFileKind(start.data(), start.size()),
              GetParam() ? ExchangeFileKind::CompactFolderTestFile : ExchangeFileKind::FolderTestFile);
    ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  }
  // The broken folder as a case has it.
  void Put(const TreeContents& contents) {
    RemoveTree(Broken());
    MakeTree(Broken(), contents);
  }

  TreeContents valid;
  TreeContents broken;
};

TEST_P(FolderPairingTest, AFileNotTheOneOfTheRecordIsLeftAndTheRestRepaired) {
  const std::string x = valid["x.bin"];
  // The valid file edited in two carried blocks after the exchange, the folder repaired by a
  // newer one: the older repair file then finds neither its old nor its valid blocks there.
  const std::string newer = Changed(Changed(x, 2 * kBlock + 9), 7 * kBlock + 9);
  const struct {
    const char* name;
    std::string x;
    bool refused;
  } cases[] = {
      {"another file of the same size", Noise(12, x.size()), true},
      {"the file edited since the scan, in two carried blocks", Changed(Changed(broken["x.bin"], 2 * kBlock + 9), 7 * kBlock + 9), true},
      {"cut shorter since", broken["x.bin"].substr(0, 5 * kBlock), true},
      {"the older of two exchanges, after the newer", newer, true},
      // Block 3 in place, block 8 torn half way, block 12 not reached: finished.
      {"a rerun after a kill", broken["x.bin"].substr(0, 2 * kBlock) + x.substr(2 * kBlock, kBlock) +
                                   broken["x.bin"].substr(3 * kBlock, 4 * kBlock) + x.substr(7 * kBlock, 2048) +
                                   broken["x.bin"].substr(7 * kBlock + 2048),
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TreeContents before = broken;
    before["x.bin"] = c.x;
    Put(before);
    const TreeOutcome repaired = Repair(true);
    ASSERT_EQ(repaired.outcome.ending, Ending::Done) << repaired.outcome;
    const auto skipped = EntriesWith(repaired, EntryEvent::Skipped);
    TreeContents expected = valid;
    if (c.refused) {
      ASSERT_EQ(skipped.count("x.bin"), 1u);
      EXPECT_EQ(skipped.at("x.bin").skip, EntrySkip::OtherFile);
      EXPECT_TRUE(AnyNotScanned(repaired));
      expected["x.bin"] = c.x;
    } else {
      EXPECT_EQ(skipped.size(), 0u);
      EXPECT_FALSE(AnyNotScanned(repaired));
    }
    EXPECT_EQ(TreeDifference(ReadTree(Broken()), expected), "");
  }
}

// A file made at a name where the repair creates one is kept; one an earlier run made is done,
// and not written again; a folder to create that is there is taken as it is.
TEST_P(FolderPairingTest, ANameTakenSinceTheScanIsKeptAndOneAnEarlierRunMadeIsDone) {
  TreeContents before = broken;
  before["new.txt"] = "mine, made after step 1";
  Put(before);
  TreeOutcome repaired = Repair(true);
  ASSERT_EQ(repaired.outcome.ending, Ending::Done) << repaired.outcome;
  EXPECT_EQ(EntriesWith(repaired, EntryEvent::Skipped).at("new.txt").skip, EntrySkip::NotSeen);
  EXPECT_EQ(ReadTree(Broken()).at("new.txt"), "mine, made after step 1");

  before["new.txt"] = valid["new.txt"];
  Put(before);
  repaired = Repair(true);
  EXPECT_EQ(EntriesWith(repaired, EntryEvent::Verified).count("new.txt"), 1u);
  EXPECT_EQ(EntriesWith(repaired, EntryEvent::Created).count("new.txt"), 0u);
  EXPECT_FALSE(AnySkipped(repaired));
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
}

// A rename of letter case that died half way left the entry under its middle name: the rerun
// finishes it. A temporary of a dead run is swept; the middle name is never removed by a sweep.
TEST_P(FolderPairingTest, AHalfDoneRenameIsFinishedAndALeftTemporaryIsSwept) {
  char middle[kTemporaryNameRoom];
  ComposeMiddleName("Sub", middle, sizeof middle);
  TreeContents before = broken;
  before.erase("sub");
  before[middle] = kFolderMark;
  before[".varnell-abcdefghijkl.tmp"] = "left by a run that died";
  Put(before);
  const TreeOutcome repaired = Repair(true);
  ASSERT_EQ(repaired.outcome.ending, Ending::Done) << repaired.outcome;
  EXPECT_EQ(EntriesWith(repaired, EntryEvent::Renamed).count("Sub"), 1u);
  EXPECT_FALSE(AnySkipped(repaired));
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
}

#ifndef _WIN32
// A second name outside the folder keeps what it had; a pipe where a file was is skipped without
// being opened, so the repair never waits on it.
TEST_P(FolderPairingTest, AFileOfTwoNamesIsRepairedInACopyAndAPipeIsNeverOpened) {
  const std::string outside = elsewhere.Path("second-name.bin");
  ASSERT_EQ(link((Broken() + "/x.bin").c_str(), outside.c_str()), 0);
  ASSERT_EQ(chmod((Broken() + "/x.bin").c_str(), 0640), 0);
  ASSERT_EQ(std::remove((Broken() + "/keep.txt").c_str()), 0);
  ASSERT_EQ(mkfifo((Broken() + "/keep.txt").c_str(), 0600), 0);
  const TreeOutcome repaired = Repair(true);
  ASSERT_EQ(repaired.outcome.ending, Ending::Done) << repaired.outcome;
  const auto fixed = EntriesWith(repaired, EntryEvent::Repaired);
  ASSERT_EQ(fixed.count("x.bin"), 1u);
  EXPECT_TRUE(fixed.at("x.bin").throughCopy);
  EXPECT_EQ(EntriesWith(repaired, EntryEvent::Skipped).at("keep.txt").skip, EntrySkip::NotRegular);
  EXPECT_TRUE(ReadWholeFile(Broken() + "/x.bin") == Bytes(valid["x.bin"].begin(), valid["x.bin"].end()));
  EXPECT_TRUE(ReadWholeFile(outside) == Bytes(broken["x.bin"].begin(), broken["x.bin"].end())) << "the other name keeps its bytes";
  struct stat copy;
  ASSERT_EQ(stat((Broken() + "/x.bin").c_str(), &copy), 0);
  EXPECT_EQ(copy.st_mode & 0777, 0640u);
  EXPECT_EQ(copy.st_nlink, 1u);
}
#endif

// Stopped after any number of bytes written, or failing at any write, then run again: the
// rerun ends done with the folder right, no temporary is left, and a whole file an earlier
// run made is not written again.
TEST_P(FolderPairingTest, ARepairStoppedAnywhereIsFinishedByItsRerun) {
  // Writes: the three blocks of x.bin, keep.txt's block, then new.txt whole.
  for (int point = 1; point <= 5; ++point) {
    SCOPED_TRACE(point);
    Put(broken);
    ClearFaults();
    InjectFault(Service::WriteAt, static_cast<uint32_t>(point), SystemErrorCode(SystemErrorKind::DiskFull));
    const TreeOutcome first = Repair(true);
    EXPECT_NE(first.outcome.ending, Ending::Done);
    ClearFaults();
    const TreeOutcome rerun = Repair(true);
    ASSERT_EQ(rerun.outcome.ending, Ending::Done) << rerun.outcome;
    EXPECT_FALSE(AnySkipped(rerun));
    EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
    // The third run finds the whole file done: it is neither written nor made again.
    ClearFaults();
    const TreeOutcome third = Repair(true);
    EXPECT_FALSE(AnySkipped(third));
    EXPECT_EQ(ServiceCallCount(Service::CreateTemporaryIn), 0u);
    EXPECT_EQ(EntriesWith(third, EntryEvent::Verified).count("new.txt"), 1u);
  }
}

// A file with damage the block checksum cannot see beside damage it sees, in one region: the
// repair writes a folder follow-up for it, whose answer carries exactly the block still wrong.
TEST_P(FolderPairingTest, TheFollowUpOfAFolderBringsExactlyTheBlocksThatStillDiffer) {
  TreeContents before = broken;
  before["x.bin"] = Swapped(before["x.bin"], 4);
  Put(before);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  FolderRepairOptions options;
  options.deleteExtra = true;
  options.followUpFolder = outputs.path().c_str();
  const TreeOutcome first = RepairBrokenFolder(Broken().c_str(), RepairFile().c_str(), options, {});
  ASSERT_EQ(EntriesWith(first, EntryEvent::Mismatch).count("x.bin"), 1u);
  ASSERT_EQ(first.outcome.followUpPath, TestFile()) << "named after the folder, where asked";
  const TreeOutcome answered = ScanValid();
  ASSERT_EQ(answered.outcome.ending, Ending::Done) << answered.outcome;
  EXPECT_EQ(EntriesWith(answered, EntryEvent::Damaged).at("x.bin").blocks, 1u);
  const TreeOutcome second = Repair(true);
  EXPECT_FALSE(AnyMismatch(second));
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
}

INSTANTIATE_TEST_SUITE_P(BothForms, FolderPairingTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Compact" : "Plain"; });

}  // namespace
