// The folder services on real folders, links and special files, in both backends: what they
// list, what they refuse, and that nothing they do goes through a link.
#include <gtest/gtest.h>

#include <map>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/platform.h"
#include "tests/tree/tree_test.h"

namespace {

struct Listed {
  std::map<std::string, EntryKind> kinds;
  std::map<std::string, uint64_t> sizes;
};

int RecordEntry(void* context, const FolderEntry& entry) {
  auto* listed = static_cast<Listed*>(context);
  listed->kinds[entry.name] = entry.kind;
  listed->sizes[entry.name] = entry.size;
  return 1;
}

class FolderServicesTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    MakeTree(Broken(), {{"file.bin", "12345"}, {"sub", kFolderMark}, {"sub/inner", "x"}, {U8(u8"Кириллица.txt"), U8(u8"к")}});
    MakeTree(elsewhere.Path("outside"), {{"target.txt", "outside"}});
    MakeLink(Broken(), "away", elsewhere.Path("outside"));
    top = OpenFolder(Broken().c_str());
    ASSERT_NE(top, nullptr);
  }
  void TearDown() override {
    CloseFolder(top);
    TreeTest::TearDown();
  }
  FolderHandle top = nullptr;
};

TEST_F(FolderServicesTest, ListsEveryEntryWithItsKindAndAFilesSize) {
#ifndef _WIN32
  ASSERT_EQ(mkfifo((Broken() + "/pipe").c_str(), 0666), 0);
#endif
  Listed listed;
  ASSERT_EQ(ListFolder(top, &RecordEntry, &listed), 1);
  EXPECT_EQ(listed.kinds["file.bin"], EntryKind::File);
  EXPECT_EQ(listed.sizes["file.bin"], 5u);
  EXPECT_EQ(listed.kinds["sub"], EntryKind::Folder);
  EXPECT_EQ(listed.kinds[U8(u8"Кириллица.txt")], EntryKind::File);
  EXPECT_EQ(listed.kinds["away"], EntryKind::Link);
#ifndef _WIN32
  EXPECT_EQ(listed.kinds["pipe"], EntryKind::Other);
  EXPECT_EQ(listed.kinds.size(), 5u);
#else
  EXPECT_EQ(listed.kinds.size(), 4u);
#endif
}

TEST_F(FolderServicesTest, ALinkIsNeverOpenedAsTheFolderItPointsTo) {
  EXPECT_EQ(OpenSubfolder(top, "away"), nullptr);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::IsLink));
  EntryKind kind;
  ASSERT_EQ(GetEntryKind(top, "away", &kind), 1);
  EXPECT_EQ(kind, EntryKind::Link);
  // A name is one component: nothing reaches past the folder through a name.
  for (const char* name : {"..", ".", "sub/inner", ""}) {
    EXPECT_EQ(OpenSubfolder(top, name), nullptr) << name;
    EXPECT_EQ(OpenFileIn(top, name, FileAccess::ReadWrite), nullptr) << name;
  }
}

TEST_F(FolderServicesTest, RenamesReplaceOnlyWhenAskedAndRemoveOnlyEmptyFolders) {
  char temporary[kTemporaryNameRoom];
  FileHandle file = CreateTemporaryIn(top, "file.bin", temporary, sizeof temporary);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(WriteAt(file, 0, "new", 3), 1);
  ASSERT_EQ(CloseFile(file), 1);
  EXPECT_EQ(RenameIn(top, temporary, "file.bin", TakenName::Refuse), 0);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::AlreadyExists));
  EXPECT_EQ(RenameIn(top, temporary, "file.bin", TakenName::Replace), 1);
  EXPECT_EQ(RenameIn(top, "sub", "SUB", TakenName::Refuse), 1) << "a change of case only";
  EXPECT_EQ(RemoveFolderIn(top, "SUB"), 0);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::NotEmpty));
  EXPECT_EQ(CreateSubfolder(top, "SUB"), 0);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::AlreadyExists));
  // The link as the standard library sees it, which under Wine is the folder it points to.
  TreeContents after = ReadTree(Broken());
  std::erase_if(after, [](const auto& entry) { return entry.first.rfind("away", 0) == 0; });
  EXPECT_EQ(TreeDifference(after, {{"file.bin", "new"}, {"SUB", kFolderMark}, {"SUB/inner", "x"}, {U8(u8"Кириллица.txt"), U8(u8"к")}}),
            "");
  EXPECT_EQ(TreeDifference(ReadTree(elsewhere.Path("outside")), {{"target.txt", "outside"}}), "");
}

#ifndef _WIN32
TEST_F(FolderServicesTest, AFileLinkIsRefusedAndAReadOnlyFolderTakesNothing) {
  MakeLink(Broken(), "file-link", elsewhere.Path("outside") + "/target.txt");
  EXPECT_EQ(OpenFileIn(top, "file-link", FileAccess::ReadWrite), nullptr);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::IsLink));
  EXPECT_EQ(RemoveFileIn(top, "away"), 1) << "the link itself goes, not what it points to";
  EXPECT_EQ(TreeDifference(ReadTree(elsewhere.Path("outside")), {{"target.txt", "outside"}}), "");
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders; scripts/test runs this as a normal user";
  ASSERT_EQ(chmod((Broken() + "/sub").c_str(), 0555), 0);
  FolderHandle sub = OpenSubfolder(top, "sub");
  ASSERT_NE(sub, nullptr);
  char temporary[kTemporaryNameRoom];
  EXPECT_EQ(CreateTemporaryIn(sub, "x", temporary, sizeof temporary), nullptr);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::AccessDenied));
  EXPECT_EQ(CreateSubfolder(sub, "y"), 0);
  CloseFolder(sub);
}
#endif

}  // namespace
