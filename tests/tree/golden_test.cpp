// The two folder forms byte for byte, as docs/formats.md shows them: a small pair of folders
// gives exactly the files kept in tests/golden.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "tests/golden/golden_files.h"
#include "tests/tree/tree_test.h"

namespace {

using GoldenTest = TreeTest;

// A golden repair file as this system writes it: Windows keeps no permission bits, and its
// stamps carry 0xFFFFFFFF at these offsets instead.
Bytes AsWrittenHere(Bytes golden, std::initializer_list<size_t> permissionsAt) {
#ifdef _WIN32
  for (const size_t at : permissionsAt) std::fill(golden.begin() + at, golden.begin() + at + 4, 0xFF);
#else
  static_cast<void>(permissionsAt);
#endif
  return golden;
}

void MakeWorkedExample(const std::string& broken, const std::string& valid) {
  MakeTree(broken, {{"docs", kFolderMark}, {"docs/a.txt", "hello world"}, {"old.txt", "old"}});
  MakeTree(valid, {{"Docs", kFolderMark}, {"Docs/a.txt", "hello World"}, {"empty", kFolderMark}, {"new.txt", "new"}});
  SetStamp(valid, "Docs/a.txt", 0644, kValidTime);
  SetStamp(valid, "new.txt", 0600, kValidTime);
}

TEST_F(GoldenTest, TheFolderFilesOfTheWorkedExampleAreByteForByteTheDocumentedOnes) {
  MakeWorkedExample(Broken(), Valid());
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  Bytes test = GoldenFile("folder-test-file.crc");
  // The flags say which names the scanned folder's file system takes.
  test.at(12) = FileSystemNameLimits().windowsNames ? 1 : 0;
  EXPECT_TRUE(ReadWholeFile(TestFile()) == test);
  EXPECT_TRUE(ReadWholeFile(RepairFile()) == AsWrittenHere(GoldenFile("folder-repair-file.fix"), {84, 4270}));
}

// A repair file of the version before stamps (flags 0, no stamp in its file records) is read
// and applied as ever: the folders end equal, and the repaired and created files take the
// time of their writing.
TEST_F(GoldenTest, AnOlderFolderRepairFileWithoutStampsIsAppliedAsEver) {
  MakeWorkedExample(Broken(), Valid());
  outputs.Write("tree.fix", GoldenFile("folder-repair-file-older.fix"));
  const TreeOutcome result = Repair(true);
  ASSERT_EQ(result.outcome.ending, Ending::Done) << result.outcome;
  EXPECT_FALSE(AnySkipped(result));
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), ReadTree(Valid())), "");
  EXPECT_NE(StampOf(Broken(), "new.txt").seconds, kValidTime);
}

}  // namespace

namespace {

// A file of two blocks by formula (byte i = (i * 2654435761 mod 2^32) >> 24); its broken copy
// has a bit flipped in block 2, which the checksum sees, and the first two sectors of block 1
// swapped, which it does not. The repair leaves block 1 wrong and writes the folder follow-up;
// its answer carries block 1 alone, as a checked patch whose record is the follow-up's hashes.
TEST_F(GoldenTest, TheFolderFollowUpAndItsAnswerAreByteForByteTheDocumentedOnes) {
  std::string valid(8192, '\0');
  for (size_t i = 0; i < valid.size(); ++i) valid[i] = static_cast<char>((static_cast<uint32_t>(i) * 2654435761u) >> 24);
  std::string broken = valid;
  broken[4096 + 1] ^= 1;
  std::swap_ranges(broken.begin(), broken.begin() + 512, broken.begin() + 512);
  MakeTree(Broken(), {{"a.bin", broken}});
  MakeTree(Valid(), {{"a.bin", valid}});
  SetStamp(Valid(), "a.bin", 0644, kValidTime);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  FolderRepairOptions options;
  options.followUpFolder = outputs.path().c_str();
  ASSERT_EQ(RepairBrokenFolder(Broken().c_str(), RepairFile().c_str(), options, {}).outcome.followUpPath, TestFile());
  EXPECT_TRUE(ReadWholeFile(TestFile()) == GoldenFile("folder-follow-up.crc"));
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  EXPECT_TRUE(ReadWholeFile(RepairFile()) == AsWrittenHere(GoldenFile("folder-follow-up-answer.fix"), {56}));
  ASSERT_FALSE(AnyMismatch(Repair()));
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), {{"a.bin", valid}}), "");
  EXPECT_EQ(StampOf(Broken(), "a.bin").seconds, kValidTime) << "the answer's stamp, once the file matches";
}

}  // namespace
