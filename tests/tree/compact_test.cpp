// The compact folder test file where it differs from the plain one: the round that asks for a
// larger test file, a request answered for a folder changed since, damaged files refused whole,
// names its keys cannot tell apart, the files' stamps through keyed records, and every call of
// its own made to fail.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "core/compact_folder_file.h"
#include "core/file_kinds.h"
#include "tests/tree/tree_test.h"
#include "tree/read_ahead.h"

namespace {

constexpr size_t kBlock = 4096;

ExchangeFileKind KindOf(const Bytes& bytes) { return ReadExchangeFileKind(bytes.data(), bytes.size()); }

// A tree with a file both sides hold alike, which makes the plain test file longer than the
// smallest budget, and a few small differences; the broken side scans with that budget.
class CompactFolderTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    choice.budget = 4096;
    valid = {{"bulk.bin", Noise(21, 1100 * kBlock)}, {"a.bin", Noise(22, 3 * kBlock)}, {"Dir", kFolderMark},
             {"Dir/p.bin", Noise(23, 2 * kBlock + 5)}, {"new.txt", "new"}};
    broken = valid;
    broken["a.bin"][kBlock + 1] ^= 1;
    broken.erase("new.txt");
    broken["old.txt"] = "old";
    MakeTree(Valid(), valid);
    MakeTree(Broken(), broken);
  }
  // The broken side's answer to the request, written beside the other outputs.
  TreeOutcome RepairInto(uint64_t budget = 0) {
    FolderRepairOptions options;
    options.followUpFolder = outputs.path().c_str();
    options.budget = budget;
    return RepairBrokenFolder(Broken().c_str(), RepairFile().c_str(), options, {});
  }
  // Blocks 1 to count of bulk.bin changed on the broken side: more than 125 symbols can hold.
  void DamageBulk(uint32_t count) {
    for (uint32_t b = 0; b < count; ++b) broken["bulk.bin"][b * kBlock] ^= 0x5A;
    RemoveTree(Broken());
    MakeTree(Broken(), broken);
  }

  TreeContents valid;
  TreeContents broken;
};

// Too much damage for the test file: the valid side asks for more (exit 10), the repair writes
// the larger test file from a new read and changes nothing, and the next round repairs.
TEST_F(CompactFolderTest, ARoundThatDoesNotDecodeAsksForALargerTestFileAndTheNextRepairs) {
  DamageBulk(300);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  const Bytes first = ReadWholeFile(TestFile());
  ASSERT_EQ(KindOf(first), ExchangeFileKind::CompactFolderTestFile);
  const TreeOutcome asked = ScanValid();
  ASSERT_EQ(asked.outcome.ending, Ending::MoreNeeded) << asked.outcome;
  const Bytes request = ReadWholeFile(RepairFile());
  AskingRepairFile read;
  ASSERT_TRUE(ReadFolderAskingFile(request.data(), request.size(), &read));
  EXPECT_EQ(read.answeredLength, first.size());
  EXPECT_GE(read.estimatedDifferences, 225u);
  EXPECT_LE(read.estimatedDifferences, 420u);

  // A cap no larger than the file already sent is refused; a larger one caps the answer.
  EXPECT_EQ(RepairInto(4096).outcome.step, Step::CheckTestFileBudget);
  EXPECT_TRUE(ReadWholeFile(TestFile()) == first);
  ASSERT_EQ(RepairInto(4400).outcome.ending, Ending::MoreNeeded);
  EXPECT_EQ(ReadWholeFile(TestFile()).size(), CompactFolderLength(CompactFolderSymbolsForBudget(4400)));

  const TreeOutcome answered = RepairInto();
  ASSERT_EQ(answered.outcome.ending, Ending::MoreNeeded) << answered.outcome;
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), broken), "");
  const Bytes larger = ReadWholeFile(TestFile());
  EXPECT_EQ(larger.size(), read.askedLength);

  const TreeOutcome compared = ScanValid();
  ASSERT_EQ(compared.outcome.ending, Ending::Done) << compared.outcome;
  EXPECT_EQ(EntriesWith(compared, EntryEvent::Damaged).at("bulk.bin").blocks, 300u);
  ASSERT_EQ(Repair(true).outcome.ending, Ending::Done);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
}

// A request answered once the folder has changed: refused as made for another folder, and the
// test file it would replace stays.
TEST_F(CompactFolderTest, ARequestForAFolderChangedSinceIsRefused) {
  DamageBulk(300);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::MoreNeeded);
  const Bytes first = ReadWholeFile(TestFile());
  broken["a.bin"][10] ^= 1;
  RemoveTree(Broken());
  MakeTree(Broken(), broken);
  const TreeOutcome answered = RepairInto();
  EXPECT_EQ(answered.outcome.ending, Ending::OtherFile) << answered.outcome;
  EXPECT_EQ(answered.outcome.check.finding, CheckFinding::TestFileDiffers);
  EXPECT_TRUE(ReadWholeFile(TestFile()) == first);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), broken), "");
}

// A byte changed anywhere in the compact test file or the request: refused whole, nothing
// written; an entry key no longer in the folder (an extra deleted since) is done.
TEST_F(CompactFolderTest, DamagedFilesAreRefusedAndAnExtraGoneSinceIsDone) {
  DamageBulk(300);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  const Bytes test = ReadWholeFile(TestFile());
  for (const size_t at : {size_t{16}, size_t{29}, size_t{100}, size_t{2000}, test.size() - 1}) {
    Bytes changed = test;
    changed[at] ^= 0x10;
    outputs.Write("tree.crc", changed);
    const TreeOutcome result = ScanValid();
    EXPECT_EQ(result.outcome.ending, Ending::Stopped) << at;
    EXPECT_EQ(result.outcome.step, Step::CheckFolderTestFile) << at;
    EXPECT_FALSE(std::filesystem::exists(RepairFile())) << at;
  }
  outputs.Write("tree.crc", test);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::MoreNeeded);
  Bytes request = ReadWholeFile(RepairFile());
  request[60] ^= 1;
  outputs.Write("tree.fix", request);
  const TreeOutcome refused = RepairInto();
  EXPECT_EQ(refused.outcome.step, Step::CheckAskingRepairFile) << refused.outcome;
  EXPECT_TRUE(ReadWholeFile(TestFile()) == test);

  RemoveTree(Broken());
  broken = valid;
  broken["old.txt"] = "old";
  MakeTree(Broken(), broken);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  std::filesystem::remove(std::filesystem::path(Broken()) / "old.txt");
  const TreeOutcome repaired = Repair(true);
  ASSERT_EQ(repaired.outcome.ending, Ending::Done) << repaired.outcome;
  EXPECT_FALSE(AnySkipped(repaired));
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
}

// Files keep what they are through the compact form as through the plain one: a created file
// takes the valid file's bits and time; a repaired one, also one reached through a keyed rename
// of its folder, keeps its own bits and takes the valid file's time; run again, the repair
// writes nothing and sets no time. On Windows files keep no bits (mode 0 there).
TEST_F(CompactFolderTest, FilesKeepWhatTheyAreThroughKeyedRecordsAndARunAgainChangesNothing) {
  broken.erase("Dir");
  broken.erase("Dir/p.bin");
  broken["dir"] = kFolderMark;
  broken["dir/p.bin"] = valid["Dir/p.bin"];
  broken["dir/p.bin"][2 * kBlock] ^= 0x08;
  RemoveTree(Broken());
  MakeTree(Broken(), broken);
  SetStamp(Valid(), "new.txt", 0600, kValidTime);
  SetStamp(Valid(), "a.bin", 0644, kValidTime + 1);
  SetStamp(Valid(), "Dir/p.bin", 0640, kValidTime + 2);
  SetStamp(Broken(), "a.bin", 0660, kValidTime + 1000);
  SetStamp(Broken(), "dir/p.bin", 0604, kValidTime + 1000);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(KindOf(ReadWholeFile(TestFile())), ExchangeFileKind::CompactFolderTestFile);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);

  const TreeOutcome first = Repair(true);
  ASSERT_EQ(first.outcome.ending, Ending::Done) << first.outcome;
  EXPECT_TRUE(first.outcome.brokenFileChanged);
  EXPECT_EQ(EntriesWith(first, EntryEvent::Renamed).count("Dir"), 1u);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
  const std::map<std::string, SeenStamp> before = ExpectStamps(
      Broken(), {{"new.txt", 0600, kValidTime}, {"a.bin", 0660, kValidTime + 1}, {"Dir/p.bin", 0604, kValidTime + 2}});

  const TreeOutcome again = Repair(true);
  ASSERT_EQ(again.outcome.ending, Ending::Done) << again.outcome;
  EXPECT_FALSE(again.outcome.brokenFileChanged);
  EXPECT_TRUE(EntriesWith(again, EntryEvent::Renamed).empty());
  ExpectStampsKept(Broken(), before);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
}

#ifndef _WIN32
// Two names that differ only in case share their keys: the broken side writes the plain form,
// the valid side asks for it.
TEST_F(CompactFolderTest, NamesThatDifferOnlyInCaseGoThroughThePlainForm) {
  MakeTree(Broken(), {{"A.bin", "upper"}});
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  EXPECT_EQ(KindOf(ReadWholeFile(TestFile())), ExchangeFileKind::FolderTestFile);

  RemoveTree(Broken());
  MakeTree(Broken(), broken);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  MakeTree(Valid(), {{"A.bin", "upper"}, {"a.BIN", "lower"}});
  ASSERT_EQ(ScanValid().outcome.ending, Ending::MoreNeeded);
  const Bytes request = ReadWholeFile(RepairFile());
  AskingRepairFile read;
  ASSERT_TRUE(ReadFolderAskingFile(request.data(), request.size(), &read));
  EXPECT_EQ(read.askedLength, read.brokenSize) << "the plain form's length";
  ASSERT_EQ(RepairInto().outcome.ending, Ending::MoreNeeded);
  EXPECT_EQ(KindOf(ReadWholeFile(TestFile())), ExchangeFileKind::FolderTestFile);
}
#endif

// The calls of the compact form's own made to fail: the operation stops at the step (or tells
// the file as skipped), leaves no temporary and changes neither folder.
struct CompactFault {
  const char* name;
  int operation;  // 0 scan-broken, 1 scan-valid, 2 repair, 3 repair answering a request
  bool asking;    // the damage that makes the valid side ask
  Service service;
  uint32_t nthCall;
  Step step;
  const char* skipped;
  bool readers = false;  // the files read side by side while the fault is armed
};

std::ostream& operator<<(std::ostream& out, const CompactFault& c) { return out << c.name; }

class CompactFolderFaultTest : public CompactFolderTest, public ::testing::WithParamInterface<CompactFault> {};

TEST_P(CompactFolderFaultTest, StopsOrSkipsAndChangesNothing) {
  const CompactFault& c = GetParam();
  if (c.asking) DamageBulk(300);
  if (c.operation > 0) {
    ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  }
  if (c.operation > 1) {
    ASSERT_EQ(ScanValid().outcome.ending, c.asking ? Ending::MoreNeeded : Ending::Done);
  }
  const TreeContents before = ReadTree(outputs.path());
  ClearFaults();  // counted from here
  if (c.readers) ReadSideBySideUnderFaults(kReadAheadReaders);
  InjectFault(c.service, c.nthCall, SystemErrorCode(SystemErrorKind::AccessDenied));
  TreeOutcome result;
  switch (c.operation) {
    case 0: result = ScanBroken(); break;
    case 1: result = ScanValid(); break;
    case 2: result = Repair(true); break;
    default: result = RepairInto(); break;
  }
  ClearFaults();
  if (c.skipped == nullptr) {
    EXPECT_EQ(result.outcome.ending, Ending::Stopped) << result.outcome;
    EXPECT_EQ(result.outcome.step, c.step) << result.outcome;
  } else {
    EXPECT_NE(result.outcome.ending, Ending::Stopped) << result.outcome;
    const auto skipped = EntriesWith(result, EntryEvent::Skipped);
    ASSERT_EQ(skipped.count(c.skipped), 1u) << result.outcome;
    EXPECT_EQ(skipped.at(c.skipped).step, c.step);
  }
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), broken), "");
  EXPECT_EQ(TreeDifference(ReadTree(Valid()), valid), "");
  for (const auto& [path, content] : ReadTree(outputs.path())) EXPECT_EQ(path.find(".varnell-"), std::string::npos) << path;
  if (c.skipped == nullptr) {
    EXPECT_EQ(TreeDifference(ReadTree(outputs.path()), before), "");
  }
}

// Calls counted from the operation's start: the test file is read at its first bytes, its
// header and its body; the valid files in the listing's order; the request's 80 bytes. Memory
// in order: (the test file's buffer,) the ring's four slices, the record's buffer and the region
// hashes, then the readers' buffers: the broken scan's, the valid scan's for its first read of
// the four files, then for its second of the two that differ.
INSTANTIATE_TEST_SUITE_P(
    EveryNewCall, CompactFolderFaultTest,
    ::testing::Values(CompactFault{"WriteCompact", 0, false, Service::WriteAt, 1, Step::WriteOutput, nullptr},
                      CompactFault{"ReadHeader", 1, false, Service::ReadAt, 2, Step::ReadTest, nullptr},
                      CompactFault{"ReadBody", 1, false, Service::ReadAt, 3, Step::ReadTest, nullptr},
                      CompactFault{"TakeOutFile", 1, false, Service::ReadAt, 4, Step::ReadValid, "a.bin"},
                      CompactFault{"AskTemporary", 1, true, Service::CreateTemporaryFile, 1, Step::CreateOutput, nullptr},
                      CompactFault{"AskWrite", 1, true, Service::WriteAt, 1, Step::WriteOutput, nullptr},
                      CompactFault{"ListForKeys", 2, false, Service::ListFolder, 1, Step::ListFolder, nullptr},
                      CompactFault{"ReadRequest", 3, true, Service::ReadAt, 2, Step::ReadRepair, nullptr},
                      CompactFault{"AnswerTemporary", 3, true, Service::CreateTemporaryFile, 1, Step::CreateOutput, nullptr},
                      CompactFault{"AnswerWrite", 3, true, Service::WriteAt, 1, Step::WriteOutput, nullptr},
                      CompactFault{"BrokenReaders", 0, false, Service::CommitMemory, 7, Step::AllocateBroken, nullptr, true},
                      CompactFault{"TakeOutReaders", 1, false, Service::CommitMemory, 8, Step::AllocateValid, nullptr, true},
                      CompactFault{"ReadAgainReaders", 1, false, Service::CommitMemory, 12, Step::AllocateValid, nullptr, true}),
    [](const ::testing::TestParamInfo<CompactFault>& info) { return std::string(info.param.name); });

}  // namespace
