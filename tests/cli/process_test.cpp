// The built varnell-cli run as a process of its own: real exit statuses, real stdout and
// stderr, real command lines with spaces and Cyrillic letters, a real current folder.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/texts.h"
#include "engine/messages.h"
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

TEST_F(ProcessTest, HelpExitsZeroOnStdout) {
  const CliOutcome run = Run({"--help"});
  EXPECT_EQ(run.status, kExitDone);
  EXPECT_EQ(run.out, std::string(cli_text::kSynopsis) + cli_text::kHelp);
  EXPECT_EQ(run.err, "");
}

TEST_F(ProcessTest, WrongUsageExitsTwoWithTheUsageOnStderr) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, {"scan-broken"}, {"repair", "a", "b", "c"}, {"mend", "a"}}) {
    const CliOutcome run = Run(arguments);
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(cli_text::kSynopsis), std::string::npos) << run.err;
  }
}

// The three steps and the closing check, with every exit status on the way.
TEST_F(ProcessTest, TheWholeExchangeWithEveryExitStatus) {
  const std::string brokenFolder = scratch.MakeFolder("битая копия");
  const std::string validFolder = elsewhere.MakeFolder("целая копия");
  const Bytes valid = RandomBytes(21, 6 * kBlock + 300);
  const Bytes broken = Damage(valid, {2, 7});
  const std::string brokenPath = Join(brokenFolder, "Отчёт за год.doc");
  const std::string validPath = Join(validFolder, "Отчёт за год.doc");
  const std::string testPath = Join(brokenFolder, "Отчёт за год.crc");
  const std::string fixPath = Join(validFolder, "Отчёт за год.fix");
  scratch.Write(Join("битая копия", "Отчёт за год.doc"), broken);
  elsewhere.Write(Join("целая копия", "Отчёт за год.doc"), valid);

  CliOutcome run = Run({"scan-broken", brokenPath, brokenFolder});
  ASSERT_EQ(run.status, kExitDone) << run.err;
  EXPECT_EQ(run.out, TestFileWrittenLine(testPath, 4 + 4 * 7));
  EXPECT_EQ(run.err, "");

  run = Run({"scan-valid", validPath, testPath, validFolder});
  ASSERT_EQ(run.status, kExitDone) << run.err;
  EXPECT_EQ(run.out, RepairFileWrittenLine(fixPath, 8 + 4100 * 2));
  EXPECT_EQ(run.err, DamagedList({"2: 4096-8191", "7: 24576-24875"}));

  // The wrong file: refused, nothing written.
  scratch.Write("другой.doc", valid);
  run = Run({"repair", Join(scratch.path(), "другой.doc"), fixPath, "--check", testPath});
  EXPECT_EQ(run.status, kExitCheckRefused);
  EXPECT_NE(run.err.find(cli_text::kCheckFailed), std::string::npos) << run.err;

  run = Run({"repair", brokenPath, fixPath, "--check", testPath});
  ASSERT_EQ(run.status, kExitDone) << run.err;
  EXPECT_EQ(run.out, RepairedLine(brokenPath, 2));
  EXPECT_TRUE(ReadWholeFile(brokenPath) == valid);

  // The closing check: the repaired file scanned again has the valid file's contents.
  ASSERT_EQ(Run({"scan-broken", brokenPath, brokenFolder}).status, kExitDone);
  run = Run({"scan-valid", validPath, testPath, validFolder});
  EXPECT_EQ(run.status, kExitIdentical);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, BoxLines(message::kAttention, message::kIdentical));

  run = Run({"repair", Join(brokenFolder, "нет такого.doc"), fixPath});
  EXPECT_EQ(run.status, kExitStopped);
  EXPECT_EQ(run.err.rfind(std::string(message::kOpenBroken) + "\n", 0), 0u) << run.err;
}

TEST_F(ProcessTest, BareNamesAreTakenFromTheCurrentFolder) {
  const Bytes broken = RandomBytes(22, kBlock + 1);
  scratch.Write("clip.mov", broken);
  const CliOutcome run = Run({"scan-broken", "clip.mov", "."}, scratch.path());
  ASSERT_EQ(run.status, kExitDone) << run.err;
  EXPECT_EQ(run.out, TestFileWrittenLine(Join(".", "clip.crc"), 12));
  EXPECT_TRUE(scratch.Read("clip.crc") == ReferenceTestFile(broken));
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
  const std::string caption = std::string(message::kOpenBroken) + "\n";
  ASSERT_EQ(run.err.rfind(caption, 0), 0u) << run.err;
  const std::string systemText = run.err.substr(caption.size());
  // Cyrillic letters are bytes from 0xC0 up, in Windows-1251 and as UTF-8 lead bytes alike.
  size_t cyrillic = 0;
  for (const char c : systemText) cyrillic += static_cast<unsigned char>(c) >= 0xC0 ? 1 : 0;
  EXPECT_GT(cyrillic, 3u) << systemText;
}

}  // namespace
