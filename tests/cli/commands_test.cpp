// varnell-cli's commands run inside the test process: what each writes, the one line on
// stdout, the engine's messages on stderr and every exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/output_name.h"
#include "cli/output.h"
#include "words/words.h"
#include "support/path_buffer.h"
#include "words/step_texts.h"
#include "tests/cli/cli_test.h"
#include "tests/testing/reference.h"
#include "varnell_version.h"

namespace {

constexpr uint32_t kBlock = 4096;

class CommandsTest : public CliTest {
 protected:
  CliOutcome Run(const std::vector<std::string>& arguments) {
    return RunCliWith(streams, arguments);
  }

  // The valid file on the valid side, a damaged copy and its test file on the broken side.
  void Exchange(const Bytes& valid, const Bytes& broken) {
    elsewhere.Write("movie.avi", valid);
    scratch.Write("movie.avi", broken);
    scratch.Write("movie.crc", ReferenceTestFile(broken));
  }
  std::string Broken() const { return scratch.Path("movie.avi"); }
  std::string Valid() const { return elsewhere.Path("movie.avi"); }
  std::string TestFile() const { return scratch.Path("movie.crc"); }
  std::string Fix() const { return elsewhere.Path("movie.fix"); }

  ScratchFolder streams;
};

// ---- scan-broken ----

TEST_F(CommandsTest, ScanBrokenWritesTheTestFileAndNamesItWithItsSize) {
  const Bytes broken = RandomBytes(1, 3 * kBlock + 10);
  scratch.Write("movie.avi", broken);
  const CliOutcome run = Run({"scan-broken", Broken(), elsewhere.path()});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_TRUE(ReadWholeFile(elsewhere.Path("movie.crc")) == ReferenceTestFile(broken));
  EXPECT_EQ(run.out, TestFileWrittenLine(elsewhere.Path("movie.crc"), 4 + 4 * 4));
  EXPECT_EQ(run.err, "");
}

TEST_F(CommandsTest, ScanBrokenReplacesAnExistingTestFile) {
  const Bytes broken = RandomBytes(2, kBlock);
  scratch.Write("movie.avi", broken);
  scratch.Write("movie.crc", RandomBytes(3, 5 * kBlock));
  EXPECT_EQ(Run({"scan-broken", Broken(), scratch.path()}).status, kExitDone);
  EXPECT_TRUE(scratch.Read("movie.crc") == ReferenceTestFile(broken));
}

TEST_F(CommandsTest, ScanBrokenThatStopsExitsOneWithTheMessageAndTheSystemsText) {
  const CliOutcome run = Run({"scan-broken", Broken(), scratch.path()});
  EXPECT_EQ(run.status, kExitStopped);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, ErrorLine(Broken(), StepMessage(Step::OpenBroken), SystemText(SystemErrorKind::FileNotFound)));
  EXPECT_FALSE(scratch.Exists("movie.crc"));
}

// The output replaced the older file but its folder's flush failed: the success line, then the
// warning with the system's text, even with --quiet, and a status of its own.
TEST_F(CommandsTest, AnOutputWhoseFolderWasNotFlushedIsDoneWithAWarning) {
  const Bytes broken = RandomBytes(16, 2 * kBlock);
  scratch.Write("movie.avi", broken);
  elsewhere.Write("movie.crc", {1, 2, 3});
  const std::string warning = ErrorLine(elsewhere.Path("movie.crc"), kRussian.cli.mayNotSurvivePowerCut.c_str(),
                                        SystemText(SystemErrorKind::DiskFull));
  InjectFault(Service::FlushFolder, 1, SystemErrorCode(SystemErrorKind::DiskFull));
  CliOutcome run = Run({"scan-broken", Broken(), elsewhere.path()});
  EXPECT_EQ(run.status, kExitNotDurable);
  EXPECT_EQ(run.out, TestFileWrittenLine(elsewhere.Path("movie.crc"), 4 + 4 * 2));
  EXPECT_EQ(run.err, warning);
  ClearFaults();
  InjectFault(Service::FlushFolder, 1, SystemErrorCode(SystemErrorKind::DiskFull));
  run = Run({"scan-broken", Broken(), elsewhere.path(), "-q", "-j"});
  EXPECT_EQ(run.status, kExitNotDurable);
  EXPECT_EQ(run.err, warning);
  EXPECT_NE(run.out.find("\"exit_status\":7,\"reason_code\":\"output_not_flushed\""), std::string::npos) << run.out;
  EXPECT_TRUE(elsewhere.Read("movie.crc") == ReferenceTestFile(broken));
}

// A file that ended before its measured size changed while it was read: the program says so
// in its own words, where the system would say "Input/output error".
TEST_F(CommandsTest, AFileThatEndsEarlyIsSaidToHaveChangedWhileItWasRead) {
  scratch.Write("movie.avi", RandomBytes(17, 3 * kBlock));
  InjectFault(Service::ReadAt, 1, 0, FaultKind::ShortTransfer);
  const CliOutcome run = Run({"scan-broken", Broken(), elsewhere.path()});
  EXPECT_EQ(run.status, kExitStopped);
  EXPECT_EQ(run.err, ErrorLine(Broken(), StepMessage(Step::ReadBroken), kRussian.cli.fileChangedWhileRead.c_str()));
  EXPECT_FALSE(elsewhere.Exists("movie.crc"));
}

// ---- scan-valid ----

TEST_F(CommandsTest, ScanValidWritesTheRepairFileAndListsTheDamagedBlocksOnStderr) {
  const Bytes valid = RandomBytes(4, 9 * kBlock + 10);
  Exchange(valid, Damage(valid, {2, 10}));
  const CliOutcome run = Run({"scan-valid", Valid(), TestFile(), elsewhere.path()});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_TRUE(ReadWholeFile(Fix()) == ReferenceRepairFile(valid, scratch.Read("movie.crc")));
  EXPECT_EQ(run.out, RepairFileWrittenLine(Fix(), ReferenceRepairFile(valid, scratch.Read("movie.crc")).size()));
  // The last block's range ends at the valid file's last byte.
  EXPECT_EQ(run.err, FingerprintLine(valid) + DamagedList({"2: 4096-8191", "10: 36864-36873"}));
}

TEST_F(CommandsTest, ScanValidWithListPutsTheDamagedBlocksOnStdout) {
  const Bytes valid = RandomBytes(5, 5 * kBlock);
  Exchange(valid, Damage(valid, {1}));
  const CliOutcome run = Run({"scan-valid", "--list", Valid(), TestFile(), elsewhere.path()});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out, RepairFileWrittenLine(Fix(), ReferenceRepairFile(valid, scratch.Read("movie.crc")).size()) + DamagedList({"1: 0-4095"}));
  EXPECT_EQ(run.err, FingerprintLine(valid));
}

// Copies whose checksums all match are no failure: a status of their own, and the repair file
// of no blocks that proves them, in place of an older answer; nothing said with --quiet.
TEST_F(CommandsTest, ScanValidOfMatchingChecksumsExitsThreeWithTheFileThatProvesThem) {
  const Bytes valid = RandomBytes(6, 2 * kBlock + 1);
  Exchange(valid, valid);
  elsewhere.Write("movie.fix", {1, 2, 3});
  CliOutcome run = Run({"scan-valid", Valid(), TestFile(), elsewhere.path()});
  const Bytes proof = ReferenceRepairFile(valid, scratch.Read("movie.crc"));
  EXPECT_EQ(run.status, kExitIdentical);
  EXPECT_EQ(run.out, RepairFileWrittenLine(Fix(), proof.size()));
  EXPECT_EQ(run.err, FingerprintLine(valid) + kRussian.cli.checksumsMatch.c_str());
  EXPECT_TRUE(ReadWholeFile(Fix()) == proof);
  run = Run({"scan-valid", Valid(), TestFile(), elsewhere.path(), "--quiet"});
  EXPECT_EQ(run.status, kExitIdentical);
  EXPECT_EQ(run.out + run.err, "");
}

TEST_F(CommandsTest, ScanValidThatStopsExitsOneWithTheProgramsOwnWords) {
  const Bytes valid = RandomBytes(7, kBlock);
  Exchange(valid, RandomBytes(8, 3 * kBlock));
  scratch.Write("movie.crc", {1, 2, 3});  // too short to hold a size
  const CliOutcome run = Run({"scan-valid", Valid(), TestFile(), elsewhere.path()});
  EXPECT_EQ(run.status, kExitStopped);
  EXPECT_EQ(run.err, ErrorLine(TestFile(), StepMessage(Step::CheckTestFileSize)));
  EXPECT_FALSE(elsewhere.Exists("movie.fix"));
}

// ---- repair ----

TEST_F(CommandsTest, RepairRewritesTheBrokenFileAndCountsTheBlocksPutInPlace) {
  const Bytes valid = RandomBytes(9, 15 * kBlock + 7);
  Exchange(valid, Damage(valid, {1, 3, 16}));
  ASSERT_EQ(Run({"scan-valid", Valid(), TestFile(), elsewhere.path()}).status, kExitDone);
  const CliOutcome run = Run({"repair", Broken(), Fix()});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out, RepairedLine(Broken(), 3));
  EXPECT_EQ(run.err, VerifiedLine(valid));
  EXPECT_TRUE(scratch.Read("movie.avi") == valid);
}

// Damage the block checksum cannot see (two words swapped in block 1) beside damage it sees.
TEST_F(CommandsTest, ARepairThatStillDiffersExitsFiveWithTheRangesAndTheFollowUp) {
  const Bytes valid = RandomBytes(16, 3 * kBlock);
  Bytes broken = Damage(valid, {3});
  std::swap_ranges(broken.begin() + 4, broken.begin() + 8, broken.begin() + 400);
  Exchange(valid, broken);
  ASSERT_EQ(Run({"scan-valid", Valid(), TestFile(), elsewhere.path()}).status, kExitDone);
  const std::string folder = scratch.MakeFolder("next");
  CliOutcome run = Run({"repair", Broken(), Fix(), "--follow-up", folder, "--json"});
  EXPECT_EQ(run.status, kExitDiffers);
  const std::string followUp = Join(folder, "movie.crc");
  const unsigned long long followUpBytes = 68 + 4 + 8 * 256 + 16;
  EXPECT_EQ(run.err, std::string("Файл всё ещё отличается от валидного, мест: 1 (первый-последний байт):\n0-12287\n") +
                         kRussian.cli.differsWhy + Format(kRussian.cli.followUpWritten, followUp.c_str(), followUpBytes) +
                         kRussian.cli.followUpNext);
  EXPECT_EQ(scratch.Size(Join("next", "movie.crc")), followUpBytes);
  EXPECT_NE(run.out.find("\"outcome\":\"differs\",\"exit_status\":5,\"reason_code\":\"differs\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"verification\":\"differs\",\"differing\":[{\"first\":0,\"last\":12287}]"), std::string::npos)
      << run.out;

  // Applied again: its blocks are in place already, so nothing is written.
  run = Run({"repair", Broken(), Fix(), "--no-verify"});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.err, kRussian.shared.alreadyRepaired + std::string("\n") + kRussian.cli.checkSkipped);
}

TEST_F(CommandsTest, RepairThatStopsExitsOneAndLeavesTheBrokenFile) {
  const Bytes broken = RandomBytes(10, kBlock);
  scratch.Write("movie.avi", broken);
  const CliOutcome run = Run({"repair", Broken(), Fix()});
  EXPECT_EQ(run.status, kExitStopped);
  EXPECT_EQ(run.err, ErrorLine(Fix(), StepMessage(Step::OpenRepair), SystemText(SystemErrorKind::FileNotFound)));
  EXPECT_TRUE(scratch.Read("movie.avi") == broken);
}

// ---- what a person meets ----

// One exchange per row, through the commands as a person types them: what was set up before the
// command, the command, its status and what it says. Files of ten blocks, so that a damaged
// block is a tenth of the file.
TEST_F(CommandsTest, WhatAPersonMeetsOnTheWay) {
  Bytes valid = RandomBytes(41, 10 * kBlock);
  // Two different words of block 1, which a swap leaves the block's checksum unchanged by.
  const Bytes words = {1, 2, 3, 4, 5, 6, 7, 8};
  std::copy(words.begin(), words.end(), valid.begin() + 4);
  std::copy(words.begin(), words.end(), valid.begin() + 400);
  valid[400] = 9;
  Bytes swapped = valid;
  std::swap_ranges(swapped.begin() + 4, swapped.begin() + 8, swapped.begin() + 400);
  const auto scanValid = [this](const std::string& test) { return Run({"scan-valid", Valid(), test, elsewhere.path(), "-q"}); };
  const auto repair = [this] { return Run({"repair", Broken(), Fix(), "-q"}); };
  const std::string followUp = scratch.Path("movie.crc");
  const struct {
    const char* name;
    Bytes broken;
    std::function<void()> before;
    std::function<std::vector<std::string>()> command;
    int status;
    std::string says;  // a line of stderr
    bool brokenRepaired;
  } rows[] = {
      {"checksums that match answer with a proof, and the repair finds what differs", swapped, [] {},
       [&] { return std::vector<std::string>{"repair", Broken(), Fix()}; }, kExitDiffers, kRussian.cli.differsWhy.c_str(),
       false},
      {"a repair file applied twice", Damage(swapped, {5}), [&] { EXPECT_EQ(repair().status, kExitDiffers); },
       [&] { return std::vector<std::string>{"repair", Broken(), Fix()}; }, kExitDiffers,
       kRussian.shared.alreadyApplied + std::string("\n"), false},
      {"an earlier round's test file", Damage(swapped, {5}),
       [&] {
         scratch.Write("first.crc", scratch.Read("movie.crc"));
         EXPECT_EQ(repair().status, kExitDiffers);
         EXPECT_EQ(scanValid(followUp).status, kExitDone);
       },
       [&] { return std::vector<std::string>{"scan-valid", Valid(), scratch.Path("first.crc"), elsewhere.path()}; },
       kExitStopped, ErrorLine(scratch.Path("first.crc"), StepMessage(Step::CheckEarlierTestFile)), false},
      {"a copy that differs in 40 %", Damage(valid, {1, 4, 7, 10}), [] {},
       [&] { return std::vector<std::string>{"scan-valid", Valid(), TestFile(), elsewhere.path()}; }, kExitDone,
       Format(kRussian.shared.differsMuch, 40u) + "\n", false},
      {"the repair of it says how much it replaced", Damage(valid, {1, 4, 7, 10}), [] {},
       [&] { return std::vector<std::string>{"repair", Broken(), Fix()}; }, kExitDone,
       Format(kRussian.shared.replacedShare, 40u) + "\n", true},
      // The trap of the valid side: the repair file it wrote picked as the valid file.
      {"a repair file given as the valid file", Damage(valid, {2}), [] {},
       [&] { return std::vector<std::string>{"scan-valid", Fix(), TestFile(), scratch.path()}; }, kExitStopped,
       ErrorLine(Fix(), StepMessage(Step::ValidIsRepairFile)), false},
      {"a repair file given as the test file", Damage(valid, {2}), [] {},
       [&] { return std::vector<std::string>{"scan-valid", Valid(), Fix(), scratch.path()}; }, kExitStopped,
       ErrorLine(Fix(), StepMessage(Step::TestIsRepairFile)), false},
      {"a repair file given as the broken file", Damage(valid, {2}), [&] { scratch.Write("copy.fix", elsewhere.Read("movie.fix")); },
       [&] { return std::vector<std::string>{"repair", scratch.Path("copy.fix"), Fix()}; }, kExitStopped,
       ErrorLine(scratch.Path("copy.fix"), StepMessage(Step::BrokenIsRepairFile)), false},
      {"a test file given as the repair file", Damage(valid, {2}), [] {},
       [&] { return std::vector<std::string>{"repair", Broken(), TestFile()}; }, kExitStopped,
       ErrorLine(TestFile(), StepMessage(Step::RepairIsTestFile)), false},
      {"a broken copy longer than the valid file", Concat({Damage(valid, {2}), RandomBytes(42, 2 * kBlock)}), [] {},
       [&] { return std::vector<std::string>{"repair", Broken(), Fix()}; }, kExitDone, VerifiedLine(valid), true},
      // Last: a read-only file is not removed for the next row everywhere.
      {"read-only inputs", Damage(valid, {2}),
       [&] {
         elsewhere.MakeReadOnly("movie.avi");
         scratch.MakeReadOnly("movie.crc");
         EXPECT_EQ(scanValid(TestFile()).status, kExitDone);
         elsewhere.MakeReadOnly("movie.fix");
       },
       [&] { return std::vector<std::string>{"repair", Broken(), Fix()}; }, kExitDone, VerifiedLine(valid), true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const ScratchFolder* side : {&scratch, &elsewhere}) {
      for (const std::string& name : side->Names()) std::filesystem::remove(std::filesystem::u8path(side->Path(name)));
    }
    Exchange(valid, row.broken);
    ASSERT_EQ(scanValid(TestFile()).status, row.broken == swapped ? kExitIdentical : kExitDone);
    row.before();
    const Bytes fix = elsewhere.Exists("movie.fix") ? elsewhere.Read("movie.fix") : Bytes();
    const Bytes broken = scratch.Read("movie.avi");
    const CliOutcome run = Run(row.command());
    EXPECT_EQ(run.status, row.status);
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
    EXPECT_TRUE(scratch.Read("movie.avi") == (row.brokenRepaired ? valid : broken));
    if (row.status == kExitStopped) {
      EXPECT_TRUE((elsewhere.Exists("movie.fix") ? elsewhere.Read("movie.fix") : Bytes()) == fix);
    }
  }
}

// ---- repair --check ----

class CheckTest : public CommandsTest {
 protected:
  // A valid file of 3 blocks and 100 bytes, its broken copy with block 2 damaged, the test
  // file of that copy and the repair file made from it.
  void SetUp() override {
    CommandsTest::SetUp();
    valid = RandomBytes(11, 3 * kBlock + 100);
    broken = Damage(valid, {2});
    Exchange(valid, broken);
    ASSERT_EQ(Run({"scan-valid", Valid(), TestFile(), elsewhere.path()}).status, kExitDone);
  }
  void ExpectRefused(const CliOutcome& run, const std::string& reason) {
    EXPECT_EQ(run.status, kExitCheckRefused);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, reason + kRussian.cli.nothingWritten);
  }
  // The error line of the file the refusal concerns: the broken file, or the test file itself.
  std::string Refusal(const std::string& path, const std::string& why) {
    return ErrorLine(path, kRussian.cli.checkFailed + why);
  }

  Bytes valid;
  Bytes broken;
};

TEST_F(CheckTest, PassesForTheFileTheTestFileWasMadeFrom) {
  const CliOutcome run = Run({"repair", Broken(), Fix(), "--check", TestFile()});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out, RepairedLine(Broken(), 1));
  EXPECT_TRUE(scratch.Read("movie.avi") == valid);
}

TEST_F(CheckTest, PassesForAnEmptyFileWithItsTestFile) {
  scratch.Write("empty.bin", {});
  scratch.Write("empty.crc", ReferenceTestFile({}));
  // Nothing to compare but the size, which passes; the repair file, made for another file,
  // records another size, so nothing is written.
  const CliOutcome run = Run({"repair", scratch.Path("empty.bin"), Fix(), "--check", scratch.Path("empty.crc"), "-j"});
  EXPECT_EQ(run.status, kExitOtherFile);
  EXPECT_NE(run.out.find("\"reason_code\":\"other_file_size_differs\""), std::string::npos) << run.out;
  EXPECT_EQ(scratch.Size("empty.bin"), 0u);
}

TEST_F(CheckTest, RefusesWhenTheSizeChanged) {
  Bytes longer = broken;
  longer.push_back(0);
  scratch.Write("movie.avi", longer);
  const CliOutcome run = Run({"repair", Broken(), Fix(), "--check", TestFile()});
  char why[256];
  std::snprintf(why, sizeof why, kRussian.cli.checkSizeDiffers, 3ull * kBlock + 101, 3ull * kBlock + 100);
  ExpectRefused(run, Refusal(Broken(), why));
  EXPECT_TRUE(scratch.Read("movie.avi") == longer);
}

TEST_F(CheckTest, RefusesAtTheFirstBlockThatChangedAndNamesItsBytes) {
  Bytes changed = Damage(broken, {4, 3});
  scratch.Write("movie.avi", changed);
  const CliOutcome run = Run({"repair", Broken(), Fix(), "--check", TestFile()});
  char why[256];
  std::snprintf(why, sizeof why, kRussian.cli.checkBlockDiffers, 3u, 8192ull, 12287ull);
  ExpectRefused(run, Refusal(Broken(), why));
  EXPECT_TRUE(scratch.Read("movie.avi") == changed);
}

TEST_F(CheckTest, ComparesThePartialLastBlockAsTheScanSawIt) {
  Bytes changed = broken;
  changed.back() ^= 1;
  scratch.Write("movie.avi", changed);
  const CliOutcome run = Run({"repair", Broken(), Fix(), "--check", TestFile()});
  char why[256];
  std::snprintf(why, sizeof why, kRussian.cli.checkBlockDiffers, 4u, 12288ull, 12387ull);
  ExpectRefused(run, Refusal(Broken(), why));
}

TEST_F(CheckTest, RefusesTheTestFileOfAnotherFile) {
  scratch.Write("movie.crc", ReferenceTestFile(RandomBytes(12, 3 * kBlock + 100)));
  const CliOutcome run = Run({"repair", Broken(), Fix(), "--check", TestFile(), "-j"});
  EXPECT_EQ(run.status, kExitCheckRefused);
  EXPECT_NE(run.err.find(kRussian.cli.checkFailed), std::string::npos);
  EXPECT_NE(run.out.find("\"reason_code\":\"check_refused_block_differs\""), std::string::npos) << run.out;
  EXPECT_TRUE(scratch.Read("movie.avi") == broken);
}

TEST_F(CheckTest, RefusesATestFileWhoseLengthDoesNotFitItsSize) {
  Bytes test = scratch.Read("movie.crc");
  test.resize(test.size() - 4);
  scratch.Write("movie.crc", test);
  char why[256];
  std::snprintf(why, sizeof why, kRussian.cli.checkTestFileMalformed, 16ull, 3ull * kBlock + 100);
  ExpectRefused(Run({"repair", Broken(), Fix(), "--check", TestFile()}), Refusal(TestFile(), why));

  scratch.Write("movie.crc", {1, 2});
  ExpectRefused(Run({"repair", Broken(), Fix(), "--check", TestFile()}),
                Refusal(TestFile(), kRussian.cli.checkTestFileTooShort.c_str()));
  EXPECT_TRUE(scratch.Read("movie.avi") == broken);
}

// A --check repair stopped after its first write says to run it again without --check: the
// same command is then refused, the one it names finishes the repair.
TEST_F(CheckTest, AStoppedRepairNamesTheCommandThatFinishesIt) {
  const uint32_t code = SystemErrorCode(SystemErrorKind::DiskFull);
  // The flush after the blocks are written (the scan's own output was flushed before).
  InjectFault(Service::FlushFile, ServiceCallCount(Service::FlushFile) + 1, code);
  CliOutcome run = Run({"repair", Broken(), Fix(), "--check", TestFile()});
  EXPECT_EQ(run.status, kExitStopped);
  EXPECT_EQ(run.err, ErrorLine(Broken(), StepMessage(Step::WriteRepaired), SystemText(code)) + kRussian.cli.runAgainWithoutCheck);
  ClearFaults();
  run = Run({"repair", Broken(), Fix(), "--check", TestFile()});
  EXPECT_EQ(run.status, kExitCheckRefused);
  run = Run({"repair", Broken(), Fix()});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_TRUE(scratch.Read("movie.avi") == valid);
}

TEST_F(CheckTest, RefusesWhenTheTestFileCannotBeRead) {
  const CliOutcome run = Run({"repair", Broken(), Fix(), "--check", scratch.Path("missing.crc")});
  ExpectRefused(run, ErrorLine(scratch.Path("missing.crc"), StepMessage(Step::OpenTest), SystemText(SystemErrorKind::FileNotFound)));
  // The broken file is the other file the check compares.
  ExpectRefused(Run({"repair", scratch.Path("missing.avi"), Fix(), "--check", TestFile()}),
                ErrorLine(scratch.Path("missing.avi"), StepMessage(Step::OpenBroken), SystemText(SystemErrorKind::FileNotFound)));
  EXPECT_TRUE(scratch.Read("movie.avi") == broken);
}

// ---- names ----

TEST_F(CommandsTest, CyrillicNamesAndSpacesGoThroughTheWholeExchange) {
  // UTF-8 in both builds: two bytes a letter, none of them a separator or a dot.
  const std::string folder = scratch.MakeFolder("папка с пробелами");
  const std::string other = elsewhere.MakeFolder("другая папка");
  const Bytes valid = RandomBytes(13, 4 * kBlock);
  const Bytes broken = Damage(valid, {3});
  scratch.Write(Join("папка с пробелами", "Мой фильм 2.avi"), broken);
  elsewhere.Write(Join("другая папка", "Мой фильм 2.avi"), valid);
  const std::string brokenPath = Join(folder, "Мой фильм 2.avi");
  const std::string testPath = Join(folder, "Мой фильм 2.crc");
  const std::string fixPath = Join(other, "Мой фильм 2.fix");

  CliOutcome run = Run({"scan-broken", brokenPath, folder});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out, TestFileWrittenLine(testPath, 4 + 4 * 4));
  run = Run({"scan-valid", Join(other, "Мой фильм 2.avi"), testPath, other});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out, RepairFileWrittenLine(fixPath, ReferenceRepairFile(valid, ReferenceTestFile(broken)).size()));
  run = Run({"repair", brokenPath, fixPath, "--check", testPath});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out, RepairedLine(brokenPath, 1));
  EXPECT_TRUE(ReadWholeFile(brokenPath) == valid);
}

// The file's own name decides: a name without a dot (common on Linux) is taken whole, and a
// dot in a folder's name is no extension.
TEST(NameOutputAfterFileTest, TakesTheFilesOwnNameUpToItsLastDot) {
  const std::string tooLong = "/data/" + std::string(511, 'n');  // one more than a path may have
  const struct {
    const char* source;
    const char* expected;  // the buffer's text afterwards; the folder alone when refused
    uint32_t error;
  } cases[] = {
      {"/data/disk.img", "/out/disk.crc", 0},
      {"/data/disk", "/out/disk.crc", 0},
      {"x.y/disk", "/out/disk.crc", 0},
      {"disk", "/out/disk.crc", 0},
      {"/data/archive.tar.gz", "/out/archive.tar.crc", 0},
      {"/data/.profile", "/out/.profile.crc", 0},
      {"/data/", "/out", SystemErrorCode(SystemErrorKind::InvalidName)},
      {tooLong.c_str(), "/out", SystemErrorCode(SystemErrorKind::NameTooLong)},
  };
  for (const auto& c : cases) {
    std::string buffer = std::string("/out") + std::string(kPathBufferSize - 4, '\0');
    const SystemError failed = NameOutputAfterFileWith('/', buffer.data(), c.source, ".crc");
    EXPECT_EQ(failed ? 0 : 1, c.error == 0 ? 1 : 0) << c.source;
    EXPECT_EQ(buffer.c_str(), std::string(c.expected)) << c.source;
    EXPECT_EQ(failed.code, c.error) << c.source;
  }
}

TEST_F(CommandsTest, OutputsAreNamedAfterTheFilesOwnName) {
  scratch.MakeFolder("x.y");
  scratch.Write(Join("x.y", "disk"), RandomBytes(18, kBlock + 3));
  const CliOutcome run = Run({"scan-broken", scratch.Path(Join("x.y", "disk")), elsewhere.path()});
  EXPECT_EQ(run.out, TestFileWrittenLine(elsewhere.Path("disk.crc"), 12));
}

// ---- --quiet, and output that cannot be written ----

TEST_F(CommandsTest, QuietWritesTheFilesAndSaysNothingButWhatListAsksFor) {
  const Bytes valid = RandomBytes(14, 3 * kBlock);
  Exchange(valid, Damage(valid, {2}));
  CliOutcome run = Run({"scan-broken", "--quiet", Broken(), scratch.path()});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out + run.err, "");
  run = Run({"scan-valid", Valid(), TestFile(), elsewhere.path(), "--quiet"});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out + run.err, "");
  run = Run({"scan-valid", Valid(), TestFile(), elsewhere.path(), "--quiet", "--list"});
  EXPECT_EQ(run.out, DamagedList({"2: 4096-8191"}));
  EXPECT_EQ(run.err, "");
  run = Run({"repair", Broken(), Fix(), "--quiet"});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_TRUE(scratch.Read("movie.avi") == valid);
  // Failures are still told.
  run = Run({"repair", "--quiet", scratch.Path("none.bin"), Fix()});
  EXPECT_EQ(run.status, kExitStopped);
  EXPECT_EQ(run.err, ErrorLine(scratch.Path("none.bin"), StepMessage(Step::OpenBroken), SystemText(SystemErrorKind::FileNotFound)));
}

#ifndef _WIN32
// A report that cannot be written is a failure of the command, though its file was written.
TEST_F(CommandsTest, AListThatCannotBeWrittenExitsOne) {
  const Bytes valid = RandomBytes(15, 12 * kBlock);
  Exchange(valid, Damage(valid, {1, 3}));
  const std::vector<std::string> arguments{"varnell-cli", "scan-valid", "--list", Valid(), TestFile(), elsewhere.path()};
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  std::FILE* err = OpenPath(streams.Path("err"), "w+b");
  const int status = RunCli(static_cast<int>(argv.size()), argv.data(), full, err);
  std::fclose(full);
  std::fclose(err);
  EXPECT_EQ(status, kExitStopped);
  EXPECT_EQ(Text(streams.Read("err")), FingerprintLine(valid) + kRussian.cli.outputFailed);
  EXPECT_TRUE(ReadWholeFile(Fix()) == ReferenceRepairFile(valid, scratch.Read("movie.crc")));
}
#endif

// ---- help, version and usage errors ----

TEST_F(CommandsTest, ARefusedCommandLineWithJsonSaysSoInJson) {
  const CliOutcome run = Run({"verify", "a.bin", "--json"});
  EXPECT_EQ(run.status, kExitUsage);
  // JSON is UTF-8 in both builds, whatever the program's own texts are.
  EXPECT_EQ(run.out, reinterpret_cast<const char*>(u8"{\"outcome\":\"usage\",\"exit_status\":2,\"message\":\"verify: не хватает аргументов\"}\n"));
}

TEST_F(CommandsTest, HelpAndVersionGoToStdout) {
  CliOutcome run = Run({"--help"});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out, std::string(kRussian.cli.synopsis) + kRussian.cli.help);
  EXPECT_EQ(run.err, "");
  run = Run({"--version"});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out, "varnell-cli " VARNELL_VERSION "\n");
}

struct UsageCase {
  const char* name;
  std::vector<std::string> arguments;
};

class UsageTest : public CommandsTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(UsageTest, ExitsTwoWithTheProblemAndTheUsageOnStderr) {
  const CliOutcome run = Run(GetParam().arguments);
  EXPECT_EQ(run.status, kExitUsage);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("varnell-cli: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find(kRussian.cli.synopsis), std::string::npos) << run.err;
  EXPECT_FALSE(scratch.Exists("a.crc"));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, UsageTest,
    ::testing::Values(UsageCase{"NoCommand", {}}, UsageCase{"UnknownCommand", {"scan", "a.bin", "."}},
                      UsageCase{"UnknownOption", {"--verbose"}},
                      UsageCase{"ScanBrokenMissingFolder", {"scan-broken", "a.bin"}},
                      UsageCase{"ScanBrokenExtraArgument", {"scan-broken", "a.bin", ".", "b"}},
                      UsageCase{"ScanValidMissingFolder", {"scan-valid", "a.bin", "a.crc"}},
                      UsageCase{"ScanValidExtraArgument", {"scan-valid", "a.bin", "a.crc", ".", "."}},
                      UsageCase{"RepairMissingRepairFile", {"repair", "a.bin"}},
                      UsageCase{"RepairExtraArgument", {"repair", "a.bin", "a.fix", "b.fix"}},
                      UsageCase{"CheckWithoutTestFile", {"repair", "a.bin", "a.fix", "--check"}},
                      UsageCase{"CheckTwice", {"repair", "a.bin", "a.fix", "--check", "a", "--check", "b"}},
                      UsageCase{"CheckOnScan", {"scan-broken", "a.bin", ".", "--check", "a.crc"}},
                      UsageCase{"ListOnRepair", {"repair", "a.bin", "a.fix", "--list"}},
                      UsageCase{"QuietTwice", {"repair", "a.bin", "a.fix", "--quiet", "--quiet"}},
                      UsageCase{"HelpWithMore", {"--help", "scan-broken"}},
                      UsageCase{"ProveOnRepair", {"repair", "a.bin", "a.fix", "--prove"}},
                      UsageCase{"NoVerifyOnScan", {"scan-valid", "a.bin", "a.crc", ".", "--no-verify"}},
                      UsageCase{"FollowUpWithoutFolder", {"repair", "a.bin", "a.fix", "--follow-up"}},
                      UsageCase{"VerifyWithoutRepairFile", {"verify", "a.bin"}}),
    [](const ::testing::TestParamInfo<UsageCase>& info) { return info.param.name; });

}  // namespace
