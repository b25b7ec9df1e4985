// The built varnell-cli run as a process of its own: real exit statuses, real stdout and
// stderr, real command lines with spaces and Cyrillic letters, a real current folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include "cli/commands.h"
#include "core/fingerprint.h"
#include "core/utf8.h"
#include "words/words.h"
#include "words/step_texts.h"
#include "tests/cli/cli_test.h"
#include "tests/cli/run_process.h"
#include "tests/testing/reference.h"

namespace {

constexpr uint32_t kBlock = 4096;

class ProcessTest : public CliTest {
 protected:
  CliOutcome Run(const std::vector<std::string>& arguments, const std::string& workingFolder = "",
                 const std::vector<std::string>& environment = {}) {
    ProcessRun run{VARNELL_CLI_PROGRAM, arguments, workingFolder, streams.Path("out"), streams.Path("err"),
                   environment};
    const int status = RunProcess(run);
    return CliOutcome{status, Lines(streams.Read("out")), Lines(streams.Read("err"))};
  }

  // A Windows program's text streams end their lines in "\r\n"; the texts compared end them in "\n".
  static std::string Lines(const Bytes& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text += static_cast<char>(bytes[i]);
    }
    return text;
  }

  ScratchFolder streams;
};

// The start of the error line of a failed call: the path, then the step's words without their
// full stop; the system's text follows.
std::string ErrorLineStart(const std::string& path, Step step, const Words& words = kRussian) {
  std::string what = StepMessage(step, words);
  if (!what.empty() && what.back() == '.') what.pop_back();
  return "varnell-cli: " + path + ": " + what + ": ";
}

TEST_F(ProcessTest, HelpExitsZeroOnStdout) {
  const CliOutcome run = Run({"--help"});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out, std::string(kRussian.cli.synopsis) + kRussian.cli.help);
  EXPECT_EQ(run.err, "");
}

// The language: --help and a command that fails, in plain text and in JSON, whose keys and
// exit status stay as they are. varnell-cli reads LC_ALL, LC_MESSAGES, LANG in that order and
// never LANGUAGE; varnell-cli.exe reads the display language only, and ctest runs this test
// under an English one with LANG naming a Russian locale (tests/cli/CMakeLists.txt).
TEST_F(ProcessTest, SpeaksTheUsersLanguage) {
  struct LanguageCase {
    std::vector<std::string> environment;
    const Words* words;
  };
#ifdef _WIN32
  const char* lang = std::getenv("LANG");
  ASSERT_TRUE(lang != nullptr && std::string(lang).rfind("ru_", 0) == 0) << "LANG is to name a Russian locale";
  // The display language the runner gave Wine (cmake/wine-run.in): Russian unless it says English.
  const char* display = std::getenv("VARNELL_LANGUAGE");
  const bool english = display != nullptr && std::string(display).rfind("en_", 0) == 0;
  ASSERT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN, !english) << "the display language";
  const LanguageCase cases[] = {{{}, english ? &kEnglish : &kRussian}};
#else
  const LanguageCase cases[] = {
      {{"LANG=C"}, &kEnglish},
      {{"LANG=ru_RU.UTF-8"}, &kRussian},
      {{"LANG=ru_RU.UTF-8", "LC_MESSAGES=C"}, &kEnglish},
      {{"LANG=C", "LANGUAGE=ru"}, &kEnglish},
  };
#endif
  const std::string missing = scratch.Path("missing.bin");
#ifndef _WIN32
  // A folder with a link, which a scan skips: the entry's reason in JSON is a value and stays
  // in Russian, for the scripts that compare it.
  const std::string folder = elsewhere.MakeFolder("tree");
  elsewhere.Write(Join("tree", "a.bin"), Bytes(10, 1));
  ASSERT_EQ(symlink("a.bin", Join(folder, "link").c_str()), 0);
  // Beside it, its code, the same in every language.
  const std::string skipReason = "\"reason\":\"" + std::string(kRussian.entries.skipLink) + "\",\"reason_code\":\"link\"";
#endif
  for (const LanguageCase& c : cases) {
    std::vector<std::string> environment = {"LC_ALL=", "LC_MESSAGES=", "LANGUAGE="};
    environment.insert(environment.end(), c.environment.begin(), c.environment.end());
    const std::string name = c.words == &kRussian ? "Russian" : "English";
    CliOutcome run = Run({"--help"}, "", environment);
    EXPECT_EQ(run.status, kExitDone) << name;
    EXPECT_EQ(run.out, std::string(c.words->cli.synopsis) + c.words->cli.help) << name;

    run = Run({"scan-broken", missing, scratch.path()}, "", environment);
    EXPECT_EQ(run.status, kExitStopped) << name;
    EXPECT_EQ(run.err.rfind(ErrorLineStart(missing, Step::OpenBroken, *c.words), 0), 0u) << name << ": " << run.err;

    run = Run({"scan-broken", missing, scratch.path(), "--json"}, "", environment);
    EXPECT_EQ(run.status, kExitStopped) << name;
    EXPECT_EQ(run.out.rfind("{\"command\":\"scan-broken\",\"outcome\":\"stopped\",\"exit_status\":1,"
                            "\"reason_code\":\"open_broken\",\"files_written\":[],"
                            "\"message\":\"" + std::string(StepMessage(Step::OpenBroken, *c.words)) + "\",",
                            0),
              0u)
        << name << ": " << run.out;
#ifndef _WIN32
    run = Run({"scan-broken", folder, scratch.path(), "--json"}, "", environment);
    EXPECT_EQ(run.status, kExitSkipped) << name;
    EXPECT_NE(run.out.find(skipReason), std::string::npos) << name << ": " << run.out;
#endif
  }
}

TEST_F(ProcessTest, WrongUsageExitsTwoWithTheUsageOnStderr) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, {"scan-broken"}, {"repair", "a", "b", "c"}, {"mend", "a"}}) {
    const CliOutcome run = Run(arguments);
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(kRussian.cli.synopsis), std::string::npos) << run.err;
  }
}

// A path as a JSON string holds it: a Windows path's separators doubled.
std::string JsonText(std::string text) {
  for (size_t at = text.find('\\'); at != std::string::npos; at = text.find('\\', at + 2)) text.insert(at, 1, '\\');
  return text;
}

// What a script and a shell expect, through the program as they run it: a failure is one line
// that names the path concerned (an output that could not be made, or a read-only one that is
// not replaced, by its full name, with one separator however many the folder given ends in);
// --quiet and -q print nothing on success, identical copies included; -j is --json; COMMAND
// --help prints that command's usage, whatever else the line holds.
TEST_F(ProcessTest, MannersOfACommandLineProgram) {
  const Bytes valid = RandomBytes(27, 2 * kBlock + 5);
  scratch.Write("disk", Damage(valid, {2}));
  elsewhere.Write("disk", valid);
  elsewhere.Write("same.crc", ReferenceTestFile(valid));  // the valid file's own: identical copies
  const std::string disk = scratch.Path("disk");
  const std::string locked = elsewhere.MakeFolder("locked");
  elsewhere.Write(Join("locked", "disk.crc"), {1, 2, 3});
  elsewhere.MakeReadOnly(Join("locked", "disk.crc"));
  // Root writes read-only files anyway (and Wine run by root); scripts/test runs this as a user.
  std::FILE* writable = OpenPath(Join(locked, "disk.crc"), "r+b");
  const bool readOnlyRefused = writable == nullptr;
  if (writable != nullptr) std::fclose(writable);
  const std::string noFolder = scratch.Path("нет папки");
  // The reason is the system's text in the program's locale; what stands before it is compared.
  const std::string cannotCreate = ErrorLineStart(Join(noFolder, "disk.crc"), Step::CreateOutput);
  // Identical copies write their proof into a folder of its own, beside disk.fix's.
  const std::string proofFolder = elsewhere.MakeFolder("proof");
  const std::vector<std::string> identical = {"scan-valid", elsewhere.Path("disk"), elsewhere.Path("same.crc"), proofFolder};
  const std::string proofJson = "{\"command\":\"scan-valid\",\"outcome\":\"identical\",\"exit_status\":3,\"reason_code\":"
                                "\"identical\",\"files_written\":[{\"kind\":\"repair_file\",\"path\":\"" +
                                JsonText(Join(proofFolder, "disk.fix")) + "\",\"bytes\":" +
                                std::to_string(ReferenceRepairFile(valid, ReferenceTestFile(valid)).size()) +
                                "}],\"valid_size\":" + std::to_string(valid.size()) + ",\"fingerprint\":\"" +
                                Hash128Hex(Xxh3Hash128(valid.data(), valid.size())) +
                                "\",\"blocks\":[],\"differing_percent\":0}\n";
  const auto with = [](std::vector<std::string> arguments, std::initializer_list<std::string> more) {
    arguments.insert(arguments.end(), more);
    return arguments;
  };
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {"a missing output folder", {"scan-broken", disk, noFolder}, kExitStopped, "", cannotCreate},
      {"a missing output folder given with a slash", {"scan-broken", disk, noFolder + "/"}, kExitStopped, "", cannotCreate},
      {"a missing input", {"scan-broken", scratch.Path("нет.img"), elsewhere.path()}, kExitStopped, "",
       ErrorLineStart(scratch.Path("нет.img"), Step::OpenBroken)},
      {"a read-only output", {"scan-broken", disk, locked + "/"}, kExitStopped, "",
       ErrorLineStart(Join(locked, "disk.crc"), Step::CreateOutput)},
      {"an output folder given with slashes", {"scan-broken", disk, elsewhere.path() + "//"}, kExitDone,
       TestFileWrittenLine(elsewhere.Path("disk.crc"), 4 + 4 * 3), ""},
      {"--quiet on success", {"scan-broken", disk, elsewhere.path(), "--quiet"}, kExitDone, "", ""},
      {"-q on success", {"scan-valid", "-q", elsewhere.Path("disk"), elsewhere.Path("disk.crc"), elsewhere.path()},
       kExitDone, "", ""},
      {"-q on identical copies", with(identical, {"-q"}), kExitIdentical, "", ""},
      {"-j", with(identical, {"-j", "-q"}), kExitIdentical, proofJson, ""},
      {"scan-broken --help", {"scan-broken", "--help"}, kExitDone, kRussian.cli.scanBrokenHelp.c_str(), ""},
      {"scan-valid -h", {"scan-valid", "-h"}, kExitDone, kRussian.cli.scanValidHelp.c_str(), ""},
      {"repair --help after its operands", {"repair", disk, "d.fix", "--check", "d.crc", "--help"}, kExitDone,
       kRussian.cli.repairHelp.c_str(), ""},
      {"verify --help", {"verify", "--help"}, kExitDone, kRussian.cli.verifyHelp.c_str(), ""},
  };
  for (const auto& c : cases) {
    if (!readOnlyRefused && c.arguments.back() == locked + "/") {
      std::printf("skipped, for this user may write read-only files: %s\n", c.name);
      continue;
    }
    const CliOutcome run = Run(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.name;
    EXPECT_EQ(run.out, c.out) << c.name;
    if (c.status != kExitStopped) {
      EXPECT_EQ(run.err, c.err) << c.name;
    } else {
      // One line: the start, then the system's reason.
      EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << c.name << ": " << run.err;
      EXPECT_GT(run.err.size(), c.err.size() + 1) << c.name << ": " << run.err;
      EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << c.name << ": " << run.err;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(noFolder)));
  if (readOnlyRefused) {
    EXPECT_TRUE(elsewhere.Read(Join("locked", "disk.crc")) == (Bytes{1, 2, 3}));
  }
  EXPECT_TRUE(elsewhere.Read("disk.fix") == ReferenceRepairFile(valid, ReferenceTestFile(Damage(valid, {2}))));
}

// The three steps and the closing check, with every exit status on the way.
TEST_F(ProcessTest, TheWholeExchangeWithEveryExitStatus) {
  const std::string brokenFolder = scratch.MakeFolder("битая копия");
  const std::string validFolder = elsewhere.MakeFolder("целая копия");
  const Bytes valid = RandomBytes(21, 9 * kBlock + 300);
  const Bytes broken = Damage(valid, {2, 10});
  const std::string brokenPath = Join(brokenFolder, "Отчёт за год.doc");
  const std::string validPath = Join(validFolder, "Отчёт за год.doc");
  const std::string testPath = Join(brokenFolder, "Отчёт за год.crc");
  const std::string fixPath = Join(validFolder, "Отчёт за год.fix");
  scratch.Write(Join("битая копия", "Отчёт за год.doc"), broken);
  elsewhere.Write(Join("целая копия", "Отчёт за год.doc"), valid);

  CliOutcome run = Run({"scan-broken", brokenPath, brokenFolder});
  ASSERT_EQ(run.status, kExitDone) << run.err;
  EXPECT_EQ(run.out, TestFileWrittenLine(testPath, 4 + 4 * 10));
  EXPECT_EQ(run.err, "");

  run = Run({"scan-valid", validPath, testPath, validFolder});
  ASSERT_EQ(run.status, kExitDone) << run.err;
  EXPECT_EQ(run.out, RepairFileWrittenLine(fixPath, ReferenceRepairFile(valid, ReferenceTestFile(broken)).size()));
  EXPECT_EQ(run.err, FingerprintLine(valid) + DamagedList({"2: 4096-8191", "10: 36864-37163"}));

  // The wrong file: refused, nothing written.
  scratch.Write("другой.doc", valid);
  run = Run({"repair", Join(scratch.path(), "другой.doc"), fixPath, "--check", testPath});
  EXPECT_EQ(run.status, kExitCheckRefused);
  EXPECT_NE(run.err.find(kRussian.cli.checkFailed), std::string::npos) << run.err;

  run = Run({"repair", brokenPath, fixPath, "--check", testPath});
  ASSERT_EQ(run.status, kExitDone) << run.err;
  EXPECT_EQ(run.out, RepairedLine(brokenPath, 2));
  EXPECT_EQ(run.err, VerifiedLine(valid));
  EXPECT_TRUE(ReadWholeFile(brokenPath) == valid);

  // The proof on request: the repaired file against the fingerprint; a file that is not the
  // valid one, whose one region differs; a repair file without a fingerprint.
  run = Run({"verify", brokenPath, fixPath});
  EXPECT_EQ(run.status, kExitDone) << run.err;
  scratch.Write("другой.doc", broken);
  run = Run({"verify", Join(scratch.path(), "другой.doc"), fixPath});
  EXPECT_EQ(run.status, kExitDiffers);
  EXPECT_EQ(run.err.rfind(std::string("Файл всё ещё отличается от валидного, мест: 1 (первый-последний байт):\n0-37163\n"), 0),
            0u)
      << run.err;
  scratch.Write("без отпечатка.fix", Concat({Le32(static_cast<uint32_t>(valid.size())), Le32(0)}));
  run = Run({"verify", brokenPath, Join(scratch.path(), "без отпечатка.fix"), "-j"});
  EXPECT_EQ(run.status, kExitNoFingerprint);
  EXPECT_NE(run.out.find("\"exit_status\":8,\"reason_code\":\"no_fingerprint\""), std::string::npos) << run.out;
  EXPECT_EQ(run.err, ErrorLine(Join(scratch.path(), "без отпечатка.fix"), kRussian.cli.noFingerprint.c_str()));

  // The closing check: the repaired file scanned again has the valid file's contents.
  ASSERT_EQ(Run({"scan-broken", brokenPath, brokenFolder}).status, kExitDone);
  run = Run({"scan-valid", validPath, testPath, validFolder});
  EXPECT_EQ(run.status, kExitIdentical);
  EXPECT_EQ(run.out, RepairFileWrittenLine(fixPath, ReferenceRepairFile(valid, ReferenceTestFile(valid)).size()));
  EXPECT_EQ(run.err, FingerprintLine(valid) + kRussian.cli.checksumsMatch.c_str());

  run = Run({"repair", Join(brokenFolder, "нет такого.doc"), fixPath});
  EXPECT_EQ(run.status, kExitStopped);
  EXPECT_EQ(run.err.rfind(ErrorLineStart(Join(brokenFolder, "нет такого.doc"), Step::OpenBroken), 0), 0u) << run.err;
}

TEST_F(ProcessTest, BareNamesAreTakenFromTheCurrentFolder) {
  const Bytes broken = RandomBytes(22, kBlock + 1);
  scratch.Write("clip.mov", broken);
  const CliOutcome run = Run({"scan-broken", "clip.mov", "."}, scratch.path());
  ASSERT_EQ(run.status, kExitDone) << run.err;
  EXPECT_EQ(run.out, TestFileWrittenLine(Join(".", "clip.crc"), 12));
  EXPECT_TRUE(scratch.Read("clip.crc") == ReferenceTestFile(broken));
}

// The progress line shows on a terminal only: percent, MiB done of all, MiB/s, then the line
// is cleared; --quiet and a redirected stderr show nothing.
#ifndef _WIN32
TEST_F(ProcessTest, ShowsProgressOnATerminalOnly) {
  scratch.Write("clip.mov", RandomBytes(23, 3 * (1u << 20) + 10));
  ProcessRun run{VARNELL_CLI_PROGRAM, {"scan-broken", scratch.Path("clip.mov"), elsewhere.path()}, "",
                 streams.Path("out"), streams.Path("err"), {}};
  std::string terminal;
  ASSERT_EQ(RunOnTerminal(run, &terminal), kExitDone);
  EXPECT_NE(terminal.find("100%  3.0 из 3.0 МиБ"), std::string::npos) << terminal;
  EXPECT_NE(terminal.find("МиБ/с"), std::string::npos) << terminal;
  // The last thing on the terminal is the cleared line.
  EXPECT_EQ(terminal.substr(terminal.size() - 2), " \r") << terminal;
  EXPECT_EQ(terminal.find("\r100%"), terminal.rfind("\r", terminal.find("100%"))) << terminal;
  EXPECT_EQ(Lines(streams.Read("out")), TestFileWrittenLine(elsewhere.Path("clip.crc"), 4 + 4 * 769));

  terminal.clear();
  run.arguments.push_back("--quiet");
  ASSERT_EQ(RunOnTerminal(run, &terminal), kExitDone);
  EXPECT_EQ(terminal, "");
  EXPECT_EQ(Lines(streams.Read("out")), "");

  run.arguments.pop_back();
  const CliOutcome redirected = Run(run.arguments);
  EXPECT_EQ(redirected.status, kExitDone);
  EXPECT_EQ(redirected.err, "");
}

// Names anyone can work out in advance (the final name, the process id, a counter), planted
// in a shared output folder, do not stop a scan there. The shell plants them under its own
// process id and then becomes the program, which keeps that id.
TEST_F(ProcessTest, FilesPlantedUnderPredictableNamesDoNotStopAScan) {
  scratch.Write("movie.avi", RandomBytes(26, 3 * kBlock));
  const std::string plantAndScan =
      "for n in $(seq 1 100); do : >\"$2/movie.crc.$$-$n.part\"; done; exec \"$0\" scan-broken \"$1\" \"$2\"";
  const ProcessRun run{"/bin/sh", {"-c", plantAndScan, VARNELL_CLI_PROGRAM, scratch.Path("movie.avi"), elsewhere.path()},
                       "", streams.Path("out"), streams.Path("err"), {}};
  EXPECT_EQ(RunProcess(run), kExitDone) << Lines(streams.Read("err"));
  EXPECT_TRUE(elsewhere.Read("movie.crc") == ReferenceTestFile(scratch.Read("movie.avi")));
}

// Ctrl-C (SIGINT), a service stopped (SIGTERM) or an ssh session dropped (SIGHUP) stops a scan
// at a block boundary: nothing under the final name, no temporary left, the stop said, and the
// process ends by that signal, as a shell and a loop around it expect (with --json, the status
// the shell sees). A signal the program was started with ignored (nohup's SIGHUP) stays ignored:
// the SIGTERM after it is what ends the run.
TEST_F(ProcessTest, ASignalStopsAScanWhichCleansUpAndEndsByIt) {
  scratch.Resize("disk.img", uint64_t{16} << 30);  // many seconds of work
  const struct {
    bool hangUpIgnored;
    std::vector<int> sent;
    int endedBy;
  } cases[] = {{false, {SIGINT}, SIGINT}, {false, {SIGTERM}, SIGTERM}, {false, {SIGHUP}, SIGHUP},
               {true, {SIGHUP, SIGTERM}, SIGTERM}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.sent.front()) + (c.hangUpIgnored ? ", SIGHUP ignored" : ""));
    // The shell ignores SIGHUP where asked and becomes the program, which keeps that and its id.
    const std::string start = std::string(c.hangUpIgnored ? "trap '' HUP; " : "") + "exec \"$0\" \"$@\"";
    const long process = StartProcess({"/bin/sh", {"-c", start, VARNELL_CLI_PROGRAM, "scan-broken", scratch.Path("disk.img"),
                                       elsewhere.path(), "-j"}, "", streams.Path("out"), streams.Path("err"), {}});
    // The temporary is made once the scan is under way, long after the signals are taken; it
    // has no name yet, but the process holds it open in the output folder.
    const auto holdsTemporary = [&] {
      std::error_code error;
      for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(process) + "/fd", error)) {
        if (std::filesystem::read_symlink(fd.path(), error).string().rfind(elsewhere.path() + "/", 0) == 0) return true;
      }
      return false;
    };
    for (int waited = 0; waited < 60000 && !holdsTemporary(); ++waited) usleep(1000);
    // Whether the program, under way, still ignores SIGHUP (a signal sent alongside another
    // may reach another of its threads first, so the ending alone would not tell).
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    std::string line;
    while (std::getline(status, line) && line.rfind("SigIgn:", 0) != 0) {}
    EXPECT_EQ((std::stoull(line.substr(7), nullptr, 16) >> (SIGHUP - 1)) & 1, c.hangUpIgnored ? 1u : 0u) << line;
    for (const int signal : c.sent) kill(static_cast<pid_t>(process), signal);
    int signal = 0;
    EXPECT_EQ(WaitForProcess(process, &signal), -1) << "ended by a signal, not by exit";
    EXPECT_EQ(signal, c.endedBy);
    EXPECT_EQ(Lines(streams.Read("err")), kRussian.cli.cancelled);
    EXPECT_EQ(Lines(streams.Read("out")).rfind("{\"command\":\"scan-broken\",\"outcome\":\"cancelled\",\"exit_status\":" +
                                                    std::to_string(128 + c.endedBy) + ",\"reason_code\":\"cancelled\",", 0),
              0u);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
  }
}

// Killed (SIGKILL) while it patches a file in place, and while it makes a whole one, a folder
// repair is finished by running it again, which exits 0, leaves no temporary and makes the
// folder equal to the valid one. The kills wait for the moment by what the process holds open.
TEST_F(ProcessTest, AFolderRepairKilledAnywhereIsFinishedByItsRerun) {
  const Bytes patched = RandomBytes(41, 24u << 20);
  const Bytes whole = RandomBytes(42, 32u << 20);
  Bytes damaged = patched;
  for (size_t at = 100; at < damaged.size(); at += 2 * kBlock) damaged[at] ^= 0x5A;
  elsewhere.MakeFolder("tree");
  elsewhere.Write("tree/a.bin", patched);
  elsewhere.Write("tree/b.bin", whole);
  const auto fresh = [&] {
    std::filesystem::remove_all(scratch.Path("tree"));
    scratch.MakeFolder("tree");
    scratch.Write("tree/a.bin", damaged);
  };
  fresh();
  ASSERT_EQ(Run({"scan-broken", scratch.Path("tree"), scratch.path(), "--quiet"}).status, kExitDone);
  ASSERT_EQ(Run({"scan-valid", elsewhere.Path("tree"), scratch.Path("tree.crc"), elsewhere.path(), "--quiet"}).status, kExitDone);
  // What the process holds in the folder: the file it patches, or a temporary without a name.
  const auto holds = [&](long process, const std::string& what) {
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(process) + "/fd", error)) {
      const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
      if (target.rfind(scratch.Path("tree") + "/" + what, 0) == 0) return true;
    }
    return false;
  };
  for (const std::string what : {"a.bin", "#"}) {
    SCOPED_TRACE(what);
    fresh();
    const long process = StartProcess({VARNELL_CLI_PROGRAM, {"repair", scratch.Path("tree"), elsewhere.Path("tree.fix")},
                                       "", streams.Path("out"), streams.Path("err"), {}});
    for (int waited = 0; waited < 60000 && !holds(process, what); ++waited) usleep(1000);
    kill(static_cast<pid_t>(process), SIGKILL);
    EXPECT_EQ(WaitForProcess(process), -1) << "killed, not finished";
    const CliOutcome rerun = Run({"repair", scratch.Path("tree"), elsewhere.Path("tree.fix"), "--quiet"});
    EXPECT_EQ(rerun.status, kExitDone) << rerun.err;
    EXPECT_EQ(scratch.Names(), (std::vector<std::string>{"tree", "tree.crc"}));
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.Path("tree"))) left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a.bin", "b.bin"}));
    EXPECT_TRUE(scratch.Read("tree/a.bin") == patched);
    EXPECT_TRUE(scratch.Read("tree/b.bin") == whole);
  }
}

TEST_F(ProcessTest, AListToAFullDeviceExitsOne) {
  const Bytes valid = RandomBytes(24, 5 * kBlock);
  elsewhere.Write("a.bin", valid);
  scratch.Write("a.crc", ReferenceTestFile(Damage(valid, {2})));
  ProcessRun run{VARNELL_CLI_PROGRAM, {"scan-valid", "--list", elsewhere.Path("a.bin"), scratch.Path("a.crc"), elsewhere.path()},
                 "", "/dev/full", streams.Path("err"), {}};
  EXPECT_EQ(RunProcess(run), kExitStopped);
  EXPECT_EQ(Lines(streams.Read("err")), FingerprintLine(valid) + kRussian.cli.outputFailed);
}

// The whole-file fingerprint is the value xxh128sum prints: a user can check it with a tool of
// their own. --json gives it, with the rest of the outcome, as one object on stdout.
TEST_F(ProcessTest, TheFingerprintIsWhatXxh128sumPrints) {
  const Bytes valid = RandomBytes(26, 3 * (1u << 20) + 12345);
  elsewhere.Write("a.bin", valid);
  scratch.Write("a.crc", ReferenceTestFile(Damage(valid, {600})));
  const CliOutcome run = Run({"scan-valid", "--json", elsewhere.Path("a.bin"), scratch.Path("a.crc"), elsewhere.path()});
  const uint64_t bytes = ReferenceRepairFile(valid, ReferenceTestFile(Damage(valid, {600}))).size();
  ASSERT_EQ(run.status, kExitDone) << run.err;
  ProcessRun sum{"/usr/bin/xxh128sum", {elsewhere.Path("a.bin")}, "", streams.Path("sum"), streams.Path("err"), {}};
  ASSERT_EQ(RunProcess(sum), 0);
  const std::string printed = Lines(streams.Read("sum")).substr(0, 32);
  EXPECT_EQ(run.out, "{\"command\":\"scan-valid\",\"outcome\":\"done\",\"exit_status\":0,\"files_written\":[{\"kind\":"
                     "\"repair_file\",\"path\":\"" + elsewhere.Path("a.fix") + "\",\"bytes\":" +
                         std::to_string(bytes) + "}],\"valid_size\":" + std::to_string(valid.size()) +
                         ",\"fingerprint\":\"" + printed + "\",\"blocks\":[600],\"differing_percent\":1}\n");
  // The lines that name what was written go to stderr instead.
  EXPECT_EQ(run.err.rfind(RepairFileWrittenLine(elsewhere.Path("a.fix"), bytes), 0), 0u) << run.err;
}
#endif

// A name in letters of no European code page, Kazakh, reaches the file and names its output
// whole; the line on stdout, a pipe here, is UTF-8. A look-alike in Russian letters beside it
// stays untouched.
TEST_F(ProcessTest, TakesAKazakhNameAndNamesTheOutputAfterIt) {
  const std::string name = "Қазақ әліппесі ғұң өүһі";
  const std::string lookAlike = "Казак алиппеси гун оуhi";
  scratch.Write(name + ".bin", RandomBytes(25, kBlock + 7));
  scratch.Write(lookAlike + ".bin", RandomBytes(26, kBlock));
  const CliOutcome run = Run({"scan-broken", scratch.Path(name + ".bin"), scratch.path()});
  ASSERT_EQ(run.status, kExitDone) << run.err;
  EXPECT_EQ(run.out, TestFileWrittenLine(scratch.Path(name + ".crc"), 4 + 4 * 2));
  EXPECT_EQ(scratch.Size(name + ".crc"), 4u + 4 * 2);
  EXPECT_FALSE(scratch.Exists(lookAlike + ".crc"));
}

// A file of 4 GiB and more: by default the compact test file, at least 64 KiB; --budget sizes
// it, in bytes or in K, M, G; --plain and a budget at the plain form's size give the plain
// (here the large) form.
TEST_F(ProcessTest, TakesAFileOfFourGiBAndMoreInTheFormAsked) {
  scratch.Resize("disk.img", (uint64_t{1} << 32) + 1);
  const uint64_t plain = 12 + 4 * 1048577ull;
  const struct {
    std::vector<std::string> options;
    uint64_t length;
  } cases[] = {
      {{}, 1076 + 24 * 2685},
      {{"--budget", "8K"}, 1076 + 24 * 296},
      {{"--plain"}, plain},
      {{"--budget", "5M"}, plain},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {"scan-broken", scratch.Path("disk.img"), scratch.path()};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const CliOutcome run = Run(arguments);
    ASSERT_EQ(run.status, kExitDone) << run.err;
    EXPECT_EQ(run.out, TestFileWrittenLine(scratch.Path("disk.crc"), c.length));
    EXPECT_EQ(scratch.Size("disk.crc"), c.length);
  }
  for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
           {"--budget", "4095"}, {"--budget", "12X"}, {"--budget", "8K", "--plain"}}) {
    std::vector<std::string> arguments = {"scan-broken", scratch.Path("disk.img"), scratch.path()};
    arguments.insert(arguments.end(), wrong.begin(), wrong.end());
    EXPECT_EQ(Run(arguments).status, kExitUsage) << wrong[1];
  }
}

TEST_F(ProcessTest, SpeaksTheSystemsRussianText) {
#ifdef _WIN32
  // Wine runs the tests with code page 1251 and the Russian locale.
  const std::vector<std::string> russian;
#else
  if (std::setlocale(LC_ALL, "ru_RU.UTF-8") == nullptr) GTEST_SKIP() << "the ru_RU.UTF-8 locale is not installed";
  std::setlocale(LC_ALL, "C");
  const std::vector<std::string> russian{"LC_ALL=ru_RU.UTF-8"};
#endif
  const CliOutcome run = Run({"scan-broken", scratch.Path("нет.bin"), scratch.path()}, "", russian);
  EXPECT_EQ(run.status, kExitStopped);
  const std::string start = ErrorLineStart(scratch.Path("нет.bin"), Step::OpenBroken);
  ASSERT_EQ(run.err.rfind(start, 0), 0u) << run.err;
  const std::string systemText = run.err.substr(start.size());
  // Cyrillic letters start with a UTF-8 lead byte of 0xD0 or 0xD1.
  size_t cyrillic = 0;
  for (const char c : systemText) cyrillic += static_cast<unsigned char>(c) >= 0xC0 ? 1 : 0;
  EXPECT_GT(cyrillic, 3u) << systemText;
}

#ifndef _WIN32
// A Russian locale whose codeset is not UTF-8 (KOI8-R, made for the test with localedef): the
// program's words and the system's text both come out in UTF-8, the system's still in Russian.
TEST_F(ProcessTest, WritesUtf8UnderALocaleOfAnotherCodeset) {
  ScratchFolder locales;
  const std::string make = "localedef -i ru_RU -f KOI8-R '" + locales.Path("ru_RU.KOI8-R") + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0) << "localedef could not make ru_RU.KOI8-R";
  const CliOutcome run = Run({"scan-broken", scratch.Path("нет.bin"), scratch.path()}, "",
                             {"LOCPATH=" + locales.path(), "LANG=ru_RU.KOI8-R", "LC_MESSAGES="});
  EXPECT_EQ(run.status, kExitStopped);
  const std::string start = ErrorLineStart(scratch.Path("нет.bin"), Step::OpenBroken);
  ASSERT_EQ(run.err.rfind(start, 0), 0u) << run.err;
  const std::string systemText = run.err.substr(start.size());
  EXPECT_TRUE(IsUtf8(systemText)) << systemText;
  size_t cyrillic = 0;
  for (const char c : systemText) cyrillic += (c == '\xD0' || c == '\xD1') ? 1 : 0;
  EXPECT_GT(cyrillic, 3u) << systemText;
}
#endif

}  // namespace
