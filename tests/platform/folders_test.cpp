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

SystemError RecordEntry(void* context, const FolderEntry& entry) {
  auto* listed = static_cast<Listed*>(context);
  listed->kinds[entry.name] = entry.kind;
  listed->sizes[entry.name] = entry.size;
  return SystemError{};
}

class FolderServicesTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    MakeTree(Broken(), {{"file.bin", "12345"}, {"sub", kFolderMark}, {"sub/inner", "x"}, {U8(u8"Кириллица.txt"), U8(u8"к")}});
    MakeTree(elsewhere.Path("outside"), {{"target.txt", "outside"}});
    MakeLink(Broken(), "away", elsewhere.Path("outside"));
    ASSERT_FALSE(OpenFolder(Broken().c_str(), nullptr, &top));
  }
  void TearDown() override {
    top = FolderHandle();
    TreeTest::TearDown();
  }
  FolderHandle top;
};

TEST_F(FolderServicesTest, ListsEveryEntryWithItsKindAndAFilesSize) {
#ifndef _WIN32
  ASSERT_EQ(mkfifo((Broken() + "/pipe").c_str(), 0666), 0);
#endif
  Listed listed;
  ASSERT_FALSE(ListFolder(top, &RecordEntry, &listed));
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
  FolderHandle away;
  EXPECT_EQ(OpenSubfolder(top, "away", &away).code, SystemErrorCode(SystemErrorKind::IsLink));
  EXPECT_FALSE(away);
  EntryKind kind;
  ASSERT_FALSE(GetEntryKind(top, "away", &kind));
  EXPECT_EQ(kind, EntryKind::Link);
  // A name is one component: nothing reaches past the folder through a name.
  for (const char* name : {"..", ".", "sub/inner", ""}) {
    FolderHandle folder;
    File file;
    EXPECT_TRUE(OpenSubfolder(top, name, &folder)) << name;
    EXPECT_TRUE(OpenFileIn(top, name, FileAccess::ReadWrite, &file)) << name;
    EXPECT_FALSE(folder || file) << name;
  }
}

TEST_F(FolderServicesTest, RenamesReplaceOnlyWhenAskedAndRemoveOnlyEmptyFolders) {
  char temporary[kTemporaryNameRoom];
  File file;
  ASSERT_FALSE(CreateTemporaryIn(top, "file.bin", temporary, sizeof temporary, &file));
  ASSERT_FALSE(WriteAt(file, 0, "new", 3));
  ASSERT_FALSE(NameTemporaryIn(top, &file, temporary, sizeof temporary));
  ASSERT_FALSE(file.Close());
  EXPECT_EQ(RenameIn(top, temporary, "file.bin", TakenName::Refuse).code, SystemErrorCode(SystemErrorKind::AlreadyExists));
  EXPECT_FALSE(RenameIn(top, temporary, "file.bin", TakenName::Replace));
  EXPECT_FALSE(RenameIn(top, "sub", "SUB", TakenName::Refuse)) << "a change of case only";
  EXPECT_EQ(RemoveFolderIn(top, "SUB").code, SystemErrorCode(SystemErrorKind::NotEmpty));
  EXPECT_EQ(CreateSubfolder(top, "SUB").code, SystemErrorCode(SystemErrorKind::AlreadyExists));
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
  File link;
  EXPECT_EQ(OpenFileIn(top, "file-link", FileAccess::ReadWrite, &link).code, SystemErrorCode(SystemErrorKind::IsLink));
  EXPECT_FALSE(RemoveFileIn(top, "away")) << "the link itself goes, not what it points to";
  EXPECT_EQ(TreeDifference(ReadTree(elsewhere.Path("outside")), {{"target.txt", "outside"}}), "");
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders; scripts/test runs this as a normal user";
  ASSERT_EQ(chmod((Broken() + "/sub").c_str(), 0555), 0);
  FolderHandle sub;
  ASSERT_FALSE(OpenSubfolder(top, "sub", &sub));
  char temporary[kTemporaryNameRoom];
  File file;
  EXPECT_EQ(CreateTemporaryIn(sub, "x", temporary, sizeof temporary, &file).code, SystemErrorCode(SystemErrorKind::AccessDenied));
  EXPECT_FALSE(file);
  EXPECT_TRUE(CreateSubfolder(sub, "y"));
}
#endif

}  // namespace

namespace {

// Temporaries the system removes if a run dies: one not yet named leaves nothing when it is
// given up; the leftover of a dead run is removed by the next run's sweep, one still held is
// kept, and only files of the temporaries' own pattern are touched.
TEST_F(FolderServicesTest, ATemporaryIsKeptOnlyWhenNamedAndOnlyLeftoversNobodyHoldsAreSwept) {
  const TreeContents before = ReadTree(Broken());
  char name[600];
  File given;
  ASSERT_FALSE(CreateTemporaryIn(top, "file.bin", name, sizeof name, &given));
  ASSERT_FALSE(WriteAt(given, 0, "abc", 3));
  EXPECT_FALSE(given.Close());
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), before), "");

  MakeTree(Broken(), {{".varnell-abcdefghijkl.tmp", "left by a run that died"}, {".varnell-abcdefghijkl.rename", "kept"},
                      {".varnell-abcdefghijk1.tmp", "not the pattern"}});
  File kept;
  ASSERT_FALSE(CreateTemporaryIn(top, "file.bin", name, sizeof name, &kept));
  ASSERT_FALSE(WriteAt(kept, 0, "abc", 3));
  ASSERT_FALSE(NameTemporaryIn(top, &kept, name, sizeof name));
  EXPECT_TRUE(TemporaryHasName(kept));
  uint32_t removed = 0;
  ASSERT_FALSE(RemoveStaleTemporariesIn(top, nullptr, 0, &removed));
  EXPECT_EQ(removed, 1u) << "the leftover, not the temporary still held";
  // Read once it is closed: Windows lets no one read a file another holds for writing.
  EXPECT_FALSE(kept.Close());
  TreeContents expected = before;
  expected[".varnell-abcdefghijkl.rename"] = "kept";
  expected[".varnell-abcdefghijk1.tmp"] = "not the pattern";
  expected[name] = "abc";
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), expected), "");

  // Closed, nobody holds it: spared while its size is one the caller may still rename into
  // place, removed once it is not.
  const uint64_t spared[] = {7, 3};
  ASSERT_FALSE(RemoveStaleTemporariesIn(top, spared, 2, &removed));
  EXPECT_EQ(removed, 0u);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), expected), "");
  ASSERT_FALSE(RemoveStaleTemporariesIn(top, spared, 1, &removed));
  EXPECT_EQ(removed, 1u);
  expected.erase(name);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), expected), "");
}

}  // namespace

namespace {

using StampServicesTest = FolderServicesTest;

// A file a folder repair makes has the valid file's bits from its creation, whatever the umask
// (exactly those afterwards; none on Windows, where the folder's security is inherited), is
// its folder owner's when root makes it, and keeps the time it is given, to the nanosecond the
// file system keeps (100 ns on Windows), before 1970 too.
TEST_F(StampServicesTest, AFileMadeWithBitsHasThemAndKeepsTheTimeItIsGiven) {
#ifndef _WIN32
  // The folder another user's: root gives the new file to that user.
  const uid_t owner = geteuid() == 0 ? 4321 : geteuid();
  if (geteuid() == 0) {
    ASSERT_EQ(chown(Broken().c_str(), owner, owner), 0);
  }
  const mode_t umaskBefore = umask(077);
#endif
  const struct {
    uint32_t bits;
    int64_t seconds;
    uint32_t nanoseconds;
  } cases[] = {{0600, kValidTime, 123456700}, {0644, -31536000, 500000000}, {kNoPermissions, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bits);
    char name[600];
    File made;
    ASSERT_FALSE(CreateTemporaryIn(top, "made.bin", c.bits, name, sizeof name, &made));
    FileStamp stamp;
    ASSERT_FALSE(GetFileStamp(made, &stamp));
#ifdef _WIN32
    EXPECT_EQ(stamp.permissions, kNoPermissions);
#else
    EXPECT_EQ(stamp.permissions, c.bits == kNoPermissions ? 0600u : c.bits) << "the umask narrows only a new file's own bits";
#endif
    ASSERT_FALSE(WriteAt(made, 0, "abc", 3));
    ASSERT_FALSE(SetModificationTime(made, FileStamp{kNoPermissions, c.seconds, c.nanoseconds}));
    ASSERT_FALSE(NameTemporaryIn(top, &made, name, sizeof name));
    EXPECT_FALSE(made.Close());
    const SeenStamp seen = StampOf(Broken(), name);
    EXPECT_EQ(seen.seconds, c.seconds);
    EXPECT_EQ(seen.nanoseconds, c.nanoseconds);
#ifndef _WIN32
    struct stat info;
    ASSERT_EQ(lstat((Broken() + "/" + name).c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, owner);
#endif
  }
#ifndef _WIN32
  umask(umaskBefore);
#endif
}

}  // namespace
