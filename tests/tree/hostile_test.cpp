// A folder repair file comes from someone else. One that carries a name of any bad class
// is refused whole, with the name and why, before anything is written: not even the good
// records before it are applied, and nothing appears outside the folder.
#include <gtest/gtest.h>

#include "core/byte_order.h"
#include "core/fingerprint.h"
#include "tests/tree/tree_test.h"

#ifdef _WIN32
#include <windows.h>
#endif

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
  // Letters NTFS takes for one beyond the alphabets of Europe: one file, not two "created".
  RemoveTree(Broken());
  MakeTree(Broken(), {});
  // Out of the macros, which the Windows build would spell in Windows-1251.
  const std::string upper = U8(u8"Ảnh.txt"), lower = U8(u8"ảnh.txt");
  outputs.Write("tree.fix", RepairFileOf({WholeFile(upper, "a"), WholeFile(lower, "b")}));
  const TreeOutcome clash = Repair(true);
  if (FileSystemNameLimits().ignoresCase) {
    EXPECT_EQ(clash.outcome.step, Step::CheckRepairFileName) << clash.outcome;
    EXPECT_EQ(clash.nameFault, NameFault::CaseClash);
    EXPECT_EQ(TreeDifference(ReadTree(Broken()), {}), "");
  } else {
    const TreeContents both = {{upper, "a"}, {lower, "b"}};
    EXPECT_EQ(TreeDifference(ReadTree(Broken()), both), "");
  }
}

#ifdef _WIN32
// A name the folder lacks but the system takes for another entry's short name (Wine makes
// them for long names, as LONG~LMQ.TXT): never written through, the record skipped and told.
TEST_F(HostileRepairTest, AnotherEntrysShortNameIsNeverWrittenThrough) {
  const TreeContents tree = {{"longfilename.txt", "long"}};
  MakeTree(Broken(), tree);
  char shortPath[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameA((Broken() + "\\longfilename.txt").c_str(), shortPath, MAX_PATH), 0u);
  const std::string shortName = std::string(shortPath).substr(std::string(shortPath).find_last_of('\\') + 1);
  ASSERT_NE(shortName, "longfilename.txt") << "no short name made";
  for (const Bytes& record : {WholeFile(shortName, "bad"), CreateFolder(shortName)}) {
    outputs.Write("tree.fix", RepairFileOf({record}));
    const TreeOutcome result = Repair(true);
    ASSERT_EQ(result.outcome.ending, Ending::Done) << result.outcome;
    const auto skipped = EntriesWith(result, EntryEvent::Skipped);
    ASSERT_EQ(skipped.count(shortName), 1u) << shortName;
    EXPECT_EQ(skipped.at(shortName).skip, EntrySkip::ShortName);
    EXPECT_EQ(TreeDifference(ReadTree(Broken()), tree), "");
  }
}
#endif

TEST_F(HostileRepairTest, ARenameThatIsMoreThanAChangeOfCaseIsRefused) {
  MakeTree(Broken(), {{"a.txt", "a"}});
  outputs.Write("tree.fix", RepairFileOf({Rename("b.txt", "a.txt")}));
  EXPECT_EQ(Repair(true).outcome.step, Step::CheckFolderRepairFile);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), {{"a.txt", "a"}}), "");
}

}  // namespace
