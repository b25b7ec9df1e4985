// The codes scripts compare (--json's reason_code): each step has its own, none is both a
// step's and a finding's, all are snake_case, and both manual pages list exactly these. Every
// value of each enum is visited, so a step or finding added later is checked unnamed.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "cli/reasons.h"

namespace {

// The codes of an enum's values; its table answers "" beyond the last value, null for none.
template <typename Enum, typename Row>
std::multiset<std::string> Codes(Row row) {
  std::multiset<std::string> codes;
  for (unsigned value = 0; value < 256; ++value) {
    const char* code = row(static_cast<Enum>(value)).code;
    if (code != nullptr && *code != '\0') codes.insert(code);
  }
  return codes;
}

// The bold word after each .TP of a manual page's section.
std::set<std::string> ListedCodes(const std::string& page, const std::string& heading) {
  std::ifstream in(std::string(VARNELL_SOURCE_DIR) + "/docs/" + page);
  std::set<std::string> codes;
  bool inSection = false, afterTag = false;
  for (std::string line; std::getline(in, line); afterTag = line == ".TP") {
    if (line.rfind(".SH", 0) == 0) inSection = line == ".SH \"" + heading + "\"";
    if (inSection && afterTag && line.rfind(".B ", 0) == 0) codes.insert(line.substr(3));
  }
  return codes;
}

TEST(ReasonsTest, EveryCodeIsOneOfItsKindAndListedInBothManualPages) {
  const std::multiset<std::string> steps = Codes<Step>(&StepReason);
  EXPECT_EQ(steps.size(), static_cast<size_t>(kLastStep) + 1) << "a step without a code";
  std::set<std::string> all(steps.begin(), steps.end());
  EXPECT_EQ(all.size(), steps.size()) << "two steps with one code";
  const auto entry = [](EntrySkip skip) {  // an unreadable entry's code is its step's
    EntryReport report;
    report.skip = skip;
    return skip == EntrySkip::Unreadable ? Reason{nullptr, Subject::Input} : EntryReason(report);
  };
  for (const auto& codes : {Codes<CheckFinding>(&CheckReason), Codes<CheckFinding>(&OtherFileReason),
                            Codes<Finding>(&FindingReason), Codes<EntrySkip>(entry)}) {
    for (const std::string& code : codes) EXPECT_EQ(steps.count(code), 0u) << code << " is a step's and a finding's";
    all.insert(codes.begin(), codes.end());
  }
  EXPECT_GE(all.size(), steps.size() + 25) << "the findings read as without their codes";
  for (const std::string& code : all) EXPECT_TRUE(std::regex_match(code, std::regex("[a-z]+(_[a-z]+)*"))) << code;
  EXPECT_EQ(ListedCodes("varnell-cli.en.1", "REASON CODES"), all);
  EXPECT_EQ(ListedCodes("varnell-cli.1", "КОДЫ ПРИЧИН"), all);
}

}  // namespace
