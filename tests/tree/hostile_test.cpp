// A folder repair file comes from someone else. One that carries a name of any bad class
// is refused whole, with the name and why, before anything is written: not even the good
// records before it are applied, and nothing appears outside the folder.
#include <gtest/gtest.h>

#include "core/byte_order.h"
#include "core/fingerprint.h"
#include "tests/tree/tree_test.h"

namespace {

// The bytes of the records, written from the layout, not with the program's own writer.
Bytes Name(const std::string& name) { return Concat({Bytes{static_cast<uint8_t>(name.size()), static_cast<uint8_t>(name.size() >> 8)}, Bytes(name.begin(), name.end())}); }
Bytes CreateFolder(const std::string& path) { return Concat({Bytes{1}, Name(path)}); }
Bytes Rename(const std::string& path, const std::string& oldName) { return Concat({Bytes{2}, Name(path), Name(oldName)}); }
Bytes WholeFile(const std::string& path, const std::string& contents) {
  Bytes fields(24);
  StoreU64LE(fields.data(), contents.size());
  StoreHash128(fields.data() + 8, Xxh3Hash128(contents.data(), contents.size()));
  return Concat({Bytes{4}, Name(path), fields, Bytes(contents.begin(), contents.end())});
}
Bytes RepairFileOf(const std::vector<Bytes>& records) {
  Bytes header = {0xFF, 0xFF, 0xFF, 0xFF, 'V', 'N', 'D', 'I', 'R', 'F', 'I', 'X', 0, 0, 0, 0};
  header.resize(24);
  StoreU64LE(header.data() + 16, records.size());
  Bytes all = header;
  for (const Bytes& record : records) all = Concat({all, record});
  return all;
}

using HostileRepairTest = TreeTest;

TEST_F(HostileRepairTest, ARepairFileWithABadNameIsRefusedWholeBeforeAnythingIsWritten) {
  struct Case {
    std::string name;
    NameFault fault;
  };
  std::vector<Case> cases = {
      {"../outside.txt", NameFault::DotComponent},   {"a/../../outside.txt", NameFault::DotComponent},
      {"/tmp/outside.txt", NameFault::Absolute},     {"//server/share/x", NameFault::Absolute},
      {"a//b", NameFault::Empty},                    {"", NameFault::Empty},
      {"..\\outside.txt", NameFault::Backslash},     {"\\\\?\\C:\\x", NameFault::Backslash},
      {"C:outside.txt", NameFault::Colon},           {"new\x0A" "line", NameFault::ControlCharacter},
      {std::string("a\0b", 3), NameFault::ControlCharacter}, {"\xFF.txt", NameFault::NotUtf8},
      {std::string(300, 'n'), NameFault::TooLong},
  };
  if (FileSystemNameLimits().windowsNames) {
    cases.push_back({"CON", NameFault::ReservedName});
    cases.push_back({"sub/nul.txt", NameFault::ReservedName});
    cases.push_back({"dot.", NameFault::TrailingDotOrSpace});
    cases.push_back({"space ", NameFault::TrailingDotOrSpace});
    cases.push_back({"what?", NameFault::ForbiddenCharacter});
  }
  const TreeContents tree = {{"sub", kFolderMark}, {"sub/keep.txt", "keep"}};
  MakeTree(Broken(), tree);
  MakeTree(elsewhere.Path("beside"), {{"x", "x"}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Bytes& bad : {WholeFile(c.name, "bad"), CreateFolder(c.name), Rename("sub/x", c.name)}) {
      if (bad[0] == 2 && (c.name.find('/') != std::string::npos || c.fault == NameFault::Empty)) continue;
      outputs.Write("tree.fix", RepairFileOf({CreateFolder("made"), WholeFile("sub/made.txt", "made"), bad}));
      const TreeOutcome result = Repair(true);
      EXPECT_EQ(result.outcome.ending, Ending::Stopped) << result.outcome;
      // An empty name does not even fit the layout, which refuses it as damage.
      if (c.fault == NameFault::Empty && c.name.empty()) {
        EXPECT_EQ(result.outcome.step, Step::CheckFolderRepairFile) << result.outcome;
        continue;
      }
      EXPECT_EQ(result.outcome.step, Step::CheckRepairFileName) << result.outcome;
      EXPECT_EQ(result.stoppedAt, c.name);
      EXPECT_EQ(result.nameFault, c.fault);
    }
  }
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), tree), "");
  EXPECT_EQ(TreeDifference(ReadTree(elsewhere.path()), {{"beside", kFolderMark}, {"beside/x", "x"}}), "");
  EXPECT_EQ(TreeDifference(ReadTree(scratch.path()), {{"tree", kFolderMark}, {"tree/sub", kFolderMark}, {"tree/sub/keep.txt", "keep"}}), "");
}

TEST_F(HostileRepairTest, NamesThisFileSystemTakesForOneAreRefusedWhereItIgnoresCase) {
  MakeTree(Broken(), {});
  outputs.Write("tree.fix", RepairFileOf({CreateFolder("Photos"), WholeFile("photos/a.txt", "a")}));
  const TreeOutcome result = Repair(true);
  if (FileSystemNameLimits().ignoresCase) {
    EXPECT_EQ(result.outcome.step, Step::CheckRepairFileName);
    EXPECT_EQ(result.nameFault, NameFault::CaseClash);
    EXPECT_EQ(TreeDifference(ReadTree(Broken()), {}), "");
  } else {
    // Two names here: the file's folder does not exist, and the file is told as skipped.
    EXPECT_EQ(result.outcome.ending, Ending::Done) << result.outcome;
    EXPECT_EQ(EntriesWith(result, EntryEvent::Skipped).at("photos/a.txt").skip, EntrySkip::Gone);
  }
}

TEST_F(HostileRepairTest, ARenameThatIsMoreThanAChangeOfCaseIsRefused) {
  MakeTree(Broken(), {{"a.txt", "a"}});
  outputs.Write("tree.fix", RepairFileOf({Rename("b.txt", "a.txt")}));
  EXPECT_EQ(Repair(true).outcome.step, Step::CheckFolderRepairFile);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), {{"a.txt", "a"}}), "");
}

}  // namespace
