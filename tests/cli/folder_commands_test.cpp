// varnell-cli on folders inside the test process: the lines it prints for the entries, the
// exit statuses of its own for skipped entries and for a file that does not match its
// fingerprint, and the options that belong to files or to folders only.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/output.h"
#include "words/words.h"
#include "words/entry_texts.h"
#include "words/step_texts.h"
#include "tests/cli/cli_test.h"
#include "tests/tree/tree_test.h"

#ifdef _WIN32
#include "tests/testing/held_file.h"
#endif

namespace {

class FolderCommandsTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    MakeTree(Valid(), {{"keep.txt", "keep"}, {"new.txt", "new file"}});
    MakeTree(Broken(), {{"keep.txt", "keep"}, {"old.txt", "old"}});
  }
  CliOutcome Run(const std::vector<std::string>& arguments) {
    return RunCliWith(streams, arguments);
  }
  static std::string Line(const char* format, const std::string& path) {
    char text[1024];
    std::snprintf(text, sizeof text, format, path.c_str());
    return std::string(text) + "\n";
  }
  void Exchange() {
    ASSERT_EQ(Run({"scan-broken", Broken(), outputs.path(), "--quiet"}).status, kExitDone);
    ASSERT_EQ(Run({"scan-valid", Valid(), TestFile(), outputs.path(), "--quiet"}).status, kExitDone);
  }
  ScratchFolder streams;
};

TEST_F(FolderCommandsTest, TheRepairOfAFolderTellsWhatItDidAndLeavesTheExtraFiles) {
  Exchange();
  const CliOutcome run = Run({"repair", Broken(), RepairFile()});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.err, Line(kRussian.entries.extra, "old.txt") + Line(kRussian.entries.created, "new.txt"));
  EXPECT_EQ(Run({"repair", Broken(), RepairFile(), "--delete-extra", "--quiet"}).status, kExitDone);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), ReadTree(Valid())), "");
  // Identical now: the first round's answer is removed, not left to undo later changes; a
  // removal that fails stops the scan with the answer still there.
  EXPECT_EQ(Run({"scan-broken", Broken(), outputs.path()}).status, kExitDone);
  InjectFault(Service::RemoveFile, ServiceCallCount(Service::RemoveFile) + 1, SystemErrorCode(SystemErrorKind::AccessDenied));
  EXPECT_EQ(Run({"scan-valid", Valid(), TestFile(), outputs.path()}).status, kExitStopped);
  EXPECT_TRUE(outputs.Exists("tree.fix"));
  ClearFaults();
  const CliOutcome again = Run({"scan-valid", Valid(), TestFile(), outputs.path()});
  EXPECT_EQ(again.status, kExitIdentical);
  EXPECT_EQ(again.err, kRussian.entries.foldersIdentical + std::string("\n") +
                           Line(kRussian.entries.olderAnswerRemoved, RepairFile()));
  EXPECT_FALSE(outputs.Exists("tree.fix"));
}

// --json gives one object on stdout with an entry for each entry told; the lines go to stderr.
TEST_F(FolderCommandsTest, JsonReportsEachEntry) {
  Exchange();
  const CliOutcome run = Run({"repair", Broken(), RepairFile(), "--json"});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out.rfind("{\"command\":\"repair\",\"target\":\"folder\",\"outcome\":\"done\",\"exit_status\":0,", 0), 0u)
      << run.out;
  EXPECT_NE(run.out.find("\"entries\":[{\"path\":\"old.txt\",\"event\":\"extra\",\"folder\":false},"
                         "{\"path\":\"new.txt\",\"event\":\"created\",\"folder\":false}]"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.back(), '\n');
  EXPECT_NE(run.err.find(Line(kRussian.entries.created, "new.txt")), std::string::npos);
}

// Identical folders with --prove: a repair file whose repair reads every file back against its
// fingerprint, so that the holder of the broken folder sees "identical" for himself.
TEST_F(FolderCommandsTest, AProofOfIdenticalFoldersIsCheckedFileByFile) {
  MakeTree(Broken(), {{"new.txt", "new file"}});
  std::remove((Broken() + kPathSeparator + "old.txt").c_str());
  // A proof only reads: a read-only file is proved as well.
  using std::filesystem::perms;
  std::filesystem::permissions(Broken() + kPathSeparator + "keep.txt", perms::owner_write | perms::group_write | perms::others_write,
                               std::filesystem::perm_options::remove);
  ASSERT_EQ(Run({"scan-broken", Broken(), outputs.path(), "--quiet"}).status, kExitDone);
  EXPECT_EQ(Run({"scan-valid", Valid(), TestFile(), outputs.path(), "--quiet"}).status, kExitIdentical);
  EXPECT_FALSE(outputs.Exists("tree.fix"));
  ASSERT_EQ(Run({"scan-valid", Valid(), TestFile(), outputs.path(), "--prove", "--quiet"}).status, kExitDone);
  const CliOutcome proved = Run({"repair", Broken(), RepairFile()});
  EXPECT_EQ(proved.status, kExitDone);
  EXPECT_EQ(proved.err, Line(kRussian.entries.verified, "keep.txt") + Line(kRussian.entries.verified, "new.txt"));
  // Damage of the same length after the proof was made: the proof finds it. The folder given
  // with a slash at its end still has its follow-up beside it, not in it.
  MakeTree(Broken(), {{"new.txt", "new filE"}});
  const CliOutcome damaged = Run({"repair", Broken() + "/", RepairFile(), "--quiet"});
  EXPECT_EQ(damaged.status, kExitDiffers);
  // The file, then the follow-up beside the broken folder that asks for its differing blocks.
  EXPECT_EQ(damaged.err.rfind(Line(kRussian.entries.mismatch, "new.txt"), 0), 0u) << damaged.err;
  EXPECT_NE(damaged.err.find(kRussian.cli.folderFollowUpNext), std::string::npos) << damaged.err;
  EXPECT_TRUE(scratch.Exists("tree.crc"));
  EXPECT_FALSE(scratch.Exists(Join("tree", "tree.crc")));
}

// A repair that stops at one of the folder's files names that file, below the folder, however
// the folder was given.
TEST_F(FolderCommandsTest, AStopAtAnEntryNamesTheEntryInItsErrorLine) {
  Exchange();
  ClearFaults();
  InjectFault(Service::WriteAt, 1, SystemErrorCode(SystemErrorKind::DiskFull));
  const CliOutcome run = Run({"repair", Broken() + "/", RepairFile(), "--quiet"});
  EXPECT_EQ(run.status, kExitStopped);
  EXPECT_EQ(run.err, ErrorLine(Join(Broken(), "new.txt"), StepMessage(Step::WriteRepaired),
                               SystemText(SystemErrorKind::DiskFull)));
}

TEST_F(FolderCommandsTest, SkippedEntriesHaveAnExitStatusOfTheirOwn) {
  MakeTree(elsewhere.Path("outside"), {{"x", "x"}});
  MakeLink(Broken(), "away", elsewhere.Path("outside"));
  const CliOutcome run = Run({"scan-broken", Broken(), outputs.path(), "--quiet", "-j"});
  EXPECT_EQ(run.status, kExitSkipped);
  const std::string skipped = Line(kRussian.entries.skipped, "away");
  EXPECT_EQ(run.err, skipped.substr(0, skipped.size() - 1) + " — " + kRussian.entries.skipLink + "\n");
  EXPECT_NE(run.out.find("\"exit_status\":6,\"reason_code\":\"entries_skipped\""), std::string::npos) << run.out;
}

TEST_F(FolderCommandsTest, AFileDamagedOnItsWayIsNotTakenAndHasAnExitStatusOfItsOwn) {
  Exchange();
  Bytes fix = ReadWholeFile(RepairFile());
  fix.back() ^= 1;  // the last byte of the new file's contents
  outputs.Write("tree.fix", fix);
  const CliOutcome run = Run({"repair", Broken(), RepairFile(), "--quiet"});
  EXPECT_EQ(run.status, kExitDiffers);
  EXPECT_EQ(run.err.rfind(Line(kRussian.entries.mismatch, "new.txt"), 0), 0u) << run.err;
  EXPECT_FALSE(scratch.Exists("tree/new.txt"));
}

#ifdef _WIN32
// Held for a minute: given up within the time an entry may wait, with the system's text and
// what to do, in the line and in the JSON object. Wine's Restart Manager names no program,
// so the words are those without a name.
TEST_F(FolderCommandsTest, AFileHeldForAMinuteIsGivenUpWithWhatToDo) {
  const HeldFile holder(Broken() + "\\keep.txt", 60000);
  const auto start = std::chrono::steady_clock::now();
  const CliOutcome run = Run({"scan-broken", Broken(), outputs.path(), "--quiet", "--json"});
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::seconds(9)) << "not waited for";
  EXPECT_LT(waited, std::chrono::seconds(15));
  EXPECT_EQ(run.status, kExitSkipped);
  std::string system = SystemText(SystemErrorKind::SharingViolation);
  while (!system.empty() && (system.back() == '\n' || system.back() == '\r' || system.back() == ' ')) system.pop_back();
  const std::string skipped = Line(kRussian.entries.skipped, "keep.txt");
  EXPECT_EQ(run.err, skipped.substr(0, skipped.size() - 1) + " — " + StepMessage(Step::OpenBroken) + " " + system + " " +
                         kRussian.shared.heldByAnother + "\n");
  EXPECT_NE(run.out.find("\"system_error\":32,"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"held_by\":null}"), std::string::npos) << run.out;
}

// Where Windows can tell, the program is named: in UTF-8 among the program's own words.
TEST_F(FolderCommandsTest, TheProgramThatHoldsAFileIsNamed) {
  EntryReport entry;
  entry.path = "keep.txt";
  entry.skip = EntrySkip::Unreadable;
  entry.systemError = SystemErrorCode(SystemErrorKind::LockViolation);
  entry.holder = U8(u8"Блокнот");
  Outcome outcome = StoppedOutcome(Step::OpenValid, SystemErrorCode(SystemErrorKind::SharingViolation));
  outcome.holder = entry.holder;
  std::FILE* words = std::fopen(streams.Path("words").c_str(), "w+b");
  ASSERT_NE(words, nullptr);
  PrintEntry(words, entry);
  PrintStop(words, "keep.txt", outcome);
  std::fclose(words);
  const Bytes printed = streams.Read("words");
  const std::string text(printed.begin(), printed.end());
  const std::string held = kRussian.shared.heldBy.c_str();
  const std::string named = held.substr(0, held.find("%s")) + entry.holder + held.substr(held.find("%s") + 2);
  EXPECT_NE(text.find(" " + named + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n" + named + "\n"), std::string::npos) << text;
}
#endif

TEST_F(FolderCommandsTest, OptionsOfFilesAndOfFoldersAreRefusedForTheOther) {
  scratch.Write("movie.avi", {1, 2, 3});
  const struct {
    std::vector<std::string> arguments;
    const char* problem;
  } cases[] = {
      {{"repair", scratch.Path("movie.avi"), RepairFile(), "--delete-extra"}, kRussian.cli.deleteExtraForFolder},
      {{"repair", Broken(), RepairFile(), "--check", TestFile()}, kRussian.cli.checkForFile},
  };
  for (const auto& c : cases) {
    const CliOutcome run = Run(c.arguments);
    EXPECT_EQ(run.status, kExitUsage);
    char problem[256];
    std::snprintf(problem, sizeof problem, c.problem, c.arguments.back() == TestFile() ? "--check" : "--delete-extra");
    EXPECT_EQ(run.err.rfind(std::string("varnell-cli: ") + problem + "\n", 0), 0u) << run.err;
  }
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), {{"keep.txt", "keep"}, {"old.txt", "old"}}), "");
}

}  // namespace

namespace {

// As an administrator scripting a folder repair meets it: a 0600 file the repair creates is 0600 from the start
// with the valid file's time; a repaired file keeps its own bits and takes that time; a link
// where the valid folder has a file is left, named, and ends 6; and the same repair run again
// writes nothing and sets no time, and says so. On Windows files keep no bits (mode 0 there).
TEST_F(FolderCommandsTest, FilesKeepWhatTheyAreAndARunAgainChangesNothing) {
  std::string damaged = Noise(44, 3 * 4096);
  const std::string intact = damaged;
  damaged[5000] ^= 0x10;
  RemoveTree(Valid());
  RemoveTree(Broken());
  MakeTree(Valid(), {{"secret.conf", "key=1"}, {"app.conf", intact}, {"link.conf", "a file"}});
  MakeTree(Broken(), {{"app.conf", damaged}});
  // A link to a folder: Wine shows a link to a file as the file.
  MakeTree(elsewhere.Path("outside"), {{"target", "elsewhere"}});
  MakeLink(Broken(), "link.conf", elsewhere.Path("outside"));
  SetStamp(Valid(), "secret.conf", 0600, kValidTime);
  SetStamp(Valid(), "app.conf", 0644, kValidTime + 1);
  SetStamp(Broken(), "app.conf", 0660, kValidTime + 1000);
  // Both scans tell the link as skipped.
  EXPECT_EQ(Run({"scan-broken", Broken(), outputs.path(), "--quiet"}).status, kExitSkipped);
  EXPECT_EQ(Run({"scan-valid", Valid(), TestFile(), outputs.path(), "--quiet"}).status, kExitSkipped);

  const CliOutcome first = Run({"repair", Broken(), RepairFile(), "--quiet", "--json"});
  EXPECT_EQ(first.status, kExitSkipped);
  const std::string skipped = Line(kRussian.entries.skipped, "link.conf");
  EXPECT_EQ(first.err, skipped.substr(0, skipped.size() - 1) + " — " + kRussian.entries.skipLink + "\n");
  EXPECT_NE(first.out.find("\"broken_file_changed\":true"), std::string::npos) << first.out;
  const std::map<std::string, SeenStamp> before =
      ExpectStamps(Broken(), {{"secret.conf", 0600, kValidTime}, {"app.conf", 0660, kValidTime + 1}});
  TreeContents expected = ReadTree(Valid());
  expected["link.conf"] = "<link>";
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), expected), "");

  const CliOutcome again = Run({"repair", Broken(), RepairFile(), "--json"});
  EXPECT_EQ(again.status, kExitSkipped);
  EXPECT_NE(again.out.find("\"broken_file_changed\":false"), std::string::npos) << again.out;
  const std::string unchanged = Line(kRussian.cli.folderUnchanged, Broken());  // the words end their own line
  EXPECT_NE(again.err.find(unchanged.substr(0, unchanged.size() - 1)), std::string::npos) << again.err;
  ExpectStampsKept(Broken(), before);
  EXPECT_NE(again.err.find(Line(kRussian.entries.verified, "app.conf")), std::string::npos) << again.err;
}

}  // namespace
