// The command lines varnell-cli accepts, and what it takes from them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/arguments.h"
#include "words/words.h"

namespace {

int Parse(std::vector<std::string> arguments, CliRequest* request, std::string* problem) {
  std::vector<char*> argv{const_cast<char*>("varnell-cli")};
  for (std::string& argument : arguments) argv.push_back(argument.data());
  return ParseArguments(static_cast<int>(argv.size()), argv.data(), request, problem);
}

// Keeps the texts alive while the request points into them.
struct Parsed {
  explicit Parsed(std::vector<std::string> given) : arguments(std::move(given)) {
    std::vector<char*> argv{const_cast<char*>("varnell-cli")};
    for (std::string& argument : arguments) argv.push_back(argument.data());
    accepted = ParseArguments(static_cast<int>(argv.size()), argv.data(), &request, &problem);
  }
  std::vector<std::string> arguments;
  CliRequest request;
  std::string problem;
  int accepted;
};

TEST(ArgumentsTest, TakesEachCommandsOperandsInOrder) {
  Parsed scan({"scan-valid", "v.bin", "v.crc", "out"});
  ASSERT_EQ(scan.accepted, 1);
  EXPECT_EQ(scan.request.command, Command::ScanValid);
  EXPECT_STREQ(scan.request.paths[0], "v.bin");
  EXPECT_STREQ(scan.request.paths[1], "v.crc");
  EXPECT_STREQ(scan.request.paths[2], "out");
  EXPECT_FALSE(scan.request.listOnStdout);

  Parsed broken({"scan-broken", "b.bin", "out"});
  ASSERT_EQ(broken.accepted, 1);
  EXPECT_EQ(broken.request.command, Command::ScanBroken);
  EXPECT_STREQ(broken.request.paths[1], "out");
}

TEST(ArgumentsTest, TakesOptionsAnywhereAfterTheCommand) {
  Parsed repair({"repair", "--check", "b.crc", "b.bin", "b.fix"});
  ASSERT_EQ(repair.accepted, 1);
  EXPECT_EQ(repair.request.command, Command::Repair);
  EXPECT_STREQ(repair.request.paths[0], "b.bin");
  EXPECT_STREQ(repair.request.paths[1], "b.fix");
  EXPECT_STREQ(repair.request.checkFile, "b.crc");

  Parsed scan({"scan-valid", "v.bin", "v.crc", "--list", "out", "--prove"});
  ASSERT_EQ(scan.accepted, 1);
  EXPECT_TRUE(scan.request.listOnStdout);
  EXPECT_TRUE(scan.request.prove);
  EXPECT_STREQ(scan.request.paths[2], "out");

  Parsed verify({"verify", "--json", "f.bin", "f.fix"});
  ASSERT_EQ(verify.accepted, 1);
  EXPECT_EQ(verify.request.command, Command::Verify);
  EXPECT_TRUE(verify.request.json);
  EXPECT_STREQ(verify.request.paths[1], "f.fix");
}

TEST(ArgumentsTest, TakesPathsThatLookLikeOptionsAfterTheEndOfOptions) {
  Parsed repair({"repair", "--", "--list", "b.fix"});
  ASSERT_EQ(repair.accepted, 1);
  EXPECT_STREQ(repair.request.paths[0], "--list");
  EXPECT_EQ(repair.request.checkFile, nullptr);
}

TEST(ArgumentsTest, HelpAndVersionStandAlone) {
  EXPECT_EQ(Parsed({"--help"}).request.command, Command::Help);
  EXPECT_EQ(Parsed({"-h"}).request.command, Command::Help);
  EXPECT_EQ(Parsed({"--version"}).request.command, Command::Version);
}

TEST(ArgumentsTest, NamesTheArgumentThatDoesNotFit) {
  CliRequest request;
  std::string problem;
  EXPECT_EQ(Parse({"scan-broken", "b.bin", "out", "extra"}, &request, &problem), 0);
  EXPECT_NE(problem.find("extra"), std::string::npos) << problem;
  EXPECT_EQ(Parse({"fix", "b.bin"}, &request, &problem), 0);
  EXPECT_NE(problem.find("fix"), std::string::npos) << problem;
  EXPECT_EQ(Parse({"scan-valid", "v.bin", "v.crc", "out", "--lst"}, &request, &problem), 0);
  EXPECT_NE(problem.find("--lst"), std::string::npos) << problem;
  EXPECT_EQ(Parse({"repair", "b.bin"}, &request, &problem), 0);
  EXPECT_NE(problem.find("repair"), std::string::npos) << problem;
}

}  // namespace
