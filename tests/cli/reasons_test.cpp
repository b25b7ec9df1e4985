// The codes scripts compare (--json's reason_code): each step has its own, no step shares one
// with what a check or the program finds, all are snake_case, and the manual pages' tables of
// codes, in both languages, list exactly the codes the program gives. Every value of each
// enum is visited, so a step or finding added later is checked without being named here.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/reasons.h"

namespace {

// The codes of every value of an enum whose table function answers "" beyond its last value.
template <typename Enum, typename Row>
std::vector<std::string> Codes(Row row) {
  std::vector<std::string> codes;
  for (unsigned value = 0; value < 256; ++value) {
    const Reason reason = row(static_cast<Enum>(value));
    if (reason.code != nullptr && *reason.code != '\0') codes.emplace_back(reason.code);
  }
  return codes;
}

// The codes a manual page's section lists: the bold word after each .TP, up to the next .SH.
std::set<std::string> ListedCodes(const std::string& page, const std::string& heading) {
  std::ifstream in(std::string(VARNELL_SOURCE_DIR) + "/docs/" + page);
  std::set<std::string> codes;
  bool inSection = false;
  bool afterTag = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(".SH", 0) == 0) inSection = line == ".SH \"" + heading + "\"";
    if (inSection && afterTag && line.rfind(".B ", 0) == 0) codes.insert(line.substr(3));
    afterTag = line == ".TP";
  }
  return codes;
}

TEST(ReasonsTest, EveryCodeIsOneOfItsKindAndListedInBothManualPages) {
  const std::vector<std::string> steps = Codes<Step>(&StepReason);
  ASSERT_EQ(steps.size(), static_cast<size_t>(kLastStep) + 1) << "a step without a code";
  std::set<std::string> others;
  for (const auto& codes : {Codes<CheckFinding>(&CheckReason), Codes<CheckFinding>(&OtherFileReason),
                            Codes<Finding>(&FindingReason), Codes<EntrySkip>([](EntrySkip skip) {
                              EntryReport entry;
                              entry.skip = skip;
                              // An unreadable entry's code is its step's, checked above.
                              return skip == EntrySkip::Unreadable ? Reason{nullptr, Subject::Input} : EntryReason(entry);
                            })}) {
    others.insert(codes.begin(), codes.end());
  }
  EXPECT_GE(others.size(), 25u) << "the findings read as without their codes";

  std::set<std::string> all;
  for (const std::string& code : steps) {
    EXPECT_TRUE(all.insert(code).second) << code << " is the code of two steps";
    EXPECT_EQ(others.count(code), 0u) << code << " is a step's and a finding's";
  }
  all.insert(others.begin(), others.end());
  const std::regex snakeCase("[a-z]+(_[a-z]+)*");
  for (const std::string& code : all) EXPECT_TRUE(std::regex_match(code, snakeCase)) << code;

  for (const auto& [page, heading] : {std::pair<std::string, std::string>{"varnell-cli.en.1", "REASON CODES"},
                                      {"varnell-cli.1", "КОДЫ ПРИЧИН"}}) {
    const std::set<std::string> listed = ListedCodes(page, heading);
    for (const std::string& code : all) EXPECT_EQ(listed.count(code), 1u) << code << " is not listed in " << page;
    for (const std::string& code : listed) EXPECT_EQ(all.count(code), 1u) << page << " lists " << code << ", no code of the program";
  }
}

}  // namespace
