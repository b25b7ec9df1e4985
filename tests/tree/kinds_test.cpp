// Each reader of ours meets the other kind of exchange file, and damaged folder files: it
// refuses them with words of its own and writes nothing.
#include <gtest/gtest.h>

#include "core/byte_order.h"
#include "tests/testing/reference.h"
#include "tests/tree/tree_test.h"

namespace {

class ExchangeKindsTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    MakeTree(Valid(), {{"a", kFolderMark}, {"a/f.bin", Noise(1, 9000)}, {"g.bin", Noise(2, 5000)}});
    MakeTree(Broken(), {{"a", kFolderMark}, {"a/f.bin", Noise(3, 9000)}, {"old.tmp", "x"}});
    ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
    ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
    // Large enough that a folder's test file passes the dialog's check of its length.
    single = RandomBytes(5, 1 << 20);
    scratch.Write("movie.avi", single);
    scratch.Write("movie.crc", ReferenceTestFile(single));
    scratch.Write("movie.fix", ReferenceRepairFile(RandomBytes(6, 1 << 20), ReferenceTestFile(single)));
    before = ReadTree(Broken());
  }
  void ExpectUnchanged() {
    EXPECT_EQ(TreeDifference(ReadTree(Broken()), before), "");
    EXPECT_TRUE(scratch.Read("movie.avi") == single);
  }
  TreeContents before;
  Bytes single;
};

TEST_F(ExchangeKindsTest, EveryReaderRefusesTheOtherKind) {
  const std::string test = TestFile(), fix = RepairFile(), movie = scratch.Path("movie.avi");
  const std::string singleTest = scratch.Path("movie.crc"), singleFix = scratch.Path("movie.fix");
  const struct {
    const char* what;
    Outcome result;
    Step step;
  } cases[] = {
      {"folder scan, a file's test file", ScanValidFolder(Valid().c_str(), singleTest.c_str(), outputs.path().c_str(), {}).outcome,
       Step::CheckTestFileForOneFile},
      {"folder scan, a repair file", ScanValidFolder(Valid().c_str(), fix.c_str(), outputs.path().c_str(), {}).outcome,
       Step::CheckFolderTestFile},
      {"folder repair, a file's repair file", RepairBrokenFolder(Broken().c_str(), singleFix.c_str(), {}, {}).outcome,
       Step::CheckRepairFileForOneFile},
      {"folder repair, a test file", RepairBrokenFolder(Broken().c_str(), test.c_str(), {}, {}).outcome,
       Step::CheckFolderRepairFile},
      {"file scan, a folder's test file", StreamScanValidFile(movie.c_str(), test.c_str(), outputs.path().c_str(), {}),
       Step::CheckTestFileForFolder},
      {"file repair, a folder's repair file", StreamRepairBrokenFile(movie.c_str(), fix.c_str(), RepairOptions{}, {}),
       Step::CheckRepairFileForFolder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.result.ending, Ending::Stopped) << c.result;
    EXPECT_EQ(c.result.step, c.step) << c.result;
    EXPECT_TRUE(FoundByProgram(c.step));
  }
  const Outcome checked = StreamRepairBrokenFile(movie.c_str(), singleFix.c_str(), RepairOptions{.checkFilePath = test.c_str()}, {});
  EXPECT_EQ(checked.ending, Ending::CheckRefused) << checked;
  EXPECT_EQ(checked.check.finding, CheckFinding::TestFileForFolder);
  ExpectUnchanged();
}

// Damage the way a file is damaged on its way: cut, grown, a count or a number wrong.
TEST_F(ExchangeKindsTest, DamagedFolderFilesAreRefusedWhole) {
  const Bytes test = ReadWholeFile(TestFile());
  const Bytes fix = ReadWholeFile(RepairFile());
  Bytes moreRecords = fix;
  StoreU64LE(moreRecords.data() + 16, 1000);
  Bytes unknownFlag = test;
  unknownFlag[12] = 2;
  Bytes badAction = fix;
  badAction[24] = 9;
  const struct {
    const char* what;
    Bytes testFile;  // empty: the test file as scanned
    Bytes repairFile;
  } cases[] = {
      {"test file cut by a byte", Part(test, 0, test.size() - 1), {}},
      {"test file with a byte behind", Concat({test, Bytes{0}}), {}},
      {"test file with a flag unknown", unknownFlag, {}},
      {"test file of a header only", Part(test, 0, 20), {}},
      {"repair file cut by a byte", {}, Part(fix, 0, fix.size() - 1)},
      {"repair file with a byte behind", {}, Concat({fix, Bytes{0}})},
      {"repair file counting more records", {}, moreRecords},
      {"repair file with an action unknown", {}, badAction},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.testFile.empty()) {
      outputs.Write("tree.crc", c.testFile);
      outputs.Write("tree.fix", Bytes{1});
      const TreeOutcome result = ScanValid();
      EXPECT_EQ(result.outcome.step, Step::CheckFolderTestFile) << result.outcome;
      EXPECT_TRUE(outputs.Read("tree.fix") == Bytes{1});
    } else {
      outputs.Write("tree.fix", c.repairFile);
      const TreeOutcome result = Repair(true);
      EXPECT_EQ(result.outcome.step, Step::CheckFolderRepairFile) << result.outcome;
    }
  }
  ExpectUnchanged();
}

}  // namespace
