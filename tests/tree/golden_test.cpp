// The two folder forms byte for byte, as docs/formats.md shows them: a small pair of folders
// gives exactly the files kept in tests/golden.
#include <gtest/gtest.h>

#include "tests/golden/golden_files.h"
#include "tests/tree/tree_test.h"

namespace {

using GoldenTest = TreeTest;

TEST_F(GoldenTest, TheFolderFilesOfTheWorkedExampleAreByteForByteTheDocumentedOnes) {
  MakeTree(Broken(), {{"docs", kFolderMark}, {"docs/a.txt", "hello world"}, {"old.txt", "old"}});
  MakeTree(Valid(), {{"Docs", kFolderMark}, {"Docs/a.txt", "hello World"}, {"empty", kFolderMark}, {"new.txt", "new"}});
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  Bytes test = GoldenFile("folder-test-file.crc");
  // The flags say which names the scanned folder's file system takes.
  test.at(12) = FileSystemNameLimits().windowsNames ? 1 : 0;
  EXPECT_TRUE(ReadWholeFile(TestFile()) == test);
  EXPECT_TRUE(ReadWholeFile(RepairFile()) == GoldenFile("folder-repair-file.fix"));
}

}  // namespace
