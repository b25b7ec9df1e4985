// The floors of docs/architecture.md hold: a file includes only its own folder and the folders
// on the floors below it, never one beside it or above. The table in that page is the data; the
// tests, fuzz targets and benchmarks stand outside the floors and may include any of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::filesystem::path kSource = VARNELL_SOURCE_DIR;

// The folders outside the floors, and the build's own.
const std::set<std::string> kOutside = {"tests", "fuzz", "bench", "build"};

bool IsSource(const std::filesystem::path& path) {
  const std::string extension = path.extension().string();
  return extension == ".cpp" || extension == ".h" || extension == ".inc";
}

// Whether a folder holds code of its own, at any depth.
bool HoldsCode(const std::filesystem::path& folder) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (IsSource(entry.path())) return true;
  }
  return false;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Each folder's floor, from the rows of the table under "## Floors": "| 7 | `ui/`, `cli/` | ... |".
std::map<std::string, int> ReadFloors(const std::string& page) {
  std::map<std::string, int> floors;
  const size_t start = page.find("## Floors");
  if (start == std::string::npos) return floors;
  std::istringstream lines(page.substr(start, page.find("\n## ", start + 1) - start));
  const std::regex row(R"(^\|\s*(\d+)\s*\|([^|]*)\|)");
  const std::regex folder("`([a-z_]+)/`");
  for (std::string line; std::getline(lines, line);) {
    std::smatch cells;
    if (!std::regex_search(line, cells, row)) continue;
    const std::string names = cells[2];
    for (std::sregex_iterator it(names.begin(), names.end(), folder), end; it != end; ++it) {
      floors[(*it)[1]] = std::stoi(cells[1]);
    }
  }
  return floors;
}

// The top folder of every header a source includes by a quoted path; a bare name is a header
// the build generates (the version), outside the floors.
std::vector<std::string> IncludedFolders(const std::string& source) {
  std::vector<std::string> folders;
  const std::regex include(R"(^\s*#\s*include\s*"([^"/]+)/[^"]*")");
  std::istringstream lines(source);
  for (std::string line; std::getline(lines, line);) {
    std::smatch found;
    if (std::regex_search(line, found, include)) folders.push_back(found[1]);
  }
  return folders;
}

// Why an include from a file of folder into included breaks the floors; empty when it does not.
std::string Breach(const std::map<std::string, int>& floors, const std::string& folder, const std::string& included) {
  if (included == folder) return "";
  const auto from = floors.find(folder);
  const auto to = floors.find(included);
  if (to == floors.end()) return folder + "/ includes " + included + "/, which is on no floor";
  if (to->second >= from->second) {
    return folder + "/ (floor " + std::to_string(from->second) + ") includes " + included + "/ (floor " +
           std::to_string(to->second) + ")";
  }
  return "";
}

std::map<std::string, int> Floors() { return ReadFloors(ReadText(kSource / "docs" / "architecture.md")); }

TEST(FloorsTest, EveryFolderWithCodeIsOnAFloorOrOutsideThem) {
  const std::map<std::string, int> floors = Floors();
  ASSERT_EQ(floors.size(), 8u) << "the table of docs/architecture.md was not read";
  EXPECT_EQ(floors.at("core"), 1);
  EXPECT_EQ(floors.at("cli"), 7);
  for (const auto& entry : std::filesystem::directory_iterator(kSource)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_directory() || name[0] == '.' || !HoldsCode(entry.path())) continue;
    EXPECT_TRUE(floors.count(name) == 1 || kOutside.count(name) == 1) << name << "/ is on no floor";
  }
}

TEST(FloorsTest, NoFileIncludesAFolderBesideItOrAbove) {
  const std::map<std::string, int> floors = Floors();
  ASSERT_FALSE(floors.empty());
  size_t files = 0;
  for (const auto& [folder, floor] : floors) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(kSource / folder)) {
      if (!IsSource(entry.path())) continue;
      ++files;
      for (const std::string& included : IncludedFolders(ReadText(entry.path()))) {
        EXPECT_EQ(Breach(floors, folder, included), "") << entry.path().lexically_relative(kSource).string();
      }
    }
  }
  EXPECT_GT(files, 100u) << "the sources were not found";
}

// The check itself: what it reads of a table and of an include, and what it calls a breach.
TEST(FloorsTest, AnIncludeUpwardsOrBesideIsABreach) {
  const std::map<std::string, int> floors =
      ReadFloors("## Floors\n\n| Floor | Folder | What |\n|---|---|---|\n| 1 | `core/` | see `tree/` |\n"
                 "| 2 | `platform/` | x |\n| 3 | `ui/`, `cli/` | y |\n\n## Next\n| 4 | `tree/` | z |\n");
  EXPECT_EQ(floors, (std::map<std::string, int>{{"core", 1}, {"platform", 2}, {"ui", 3}, {"cli", 3}}));
  EXPECT_EQ(IncludedFolders("#include <vector>\n  #  include \"core/block.h\"\n#include \"version.h\"\n// #include \"ui/x.h\"\n"),
            (std::vector<std::string>{"core"}));
  const struct {
    const char* folder;
    const char* included;
    bool breach;
  } cases[] = {
      {"platform", "core", false}, {"platform", "platform", false}, {"core", "platform", true},
      {"ui", "cli", true},         {"cli", "ui", true},             {"core", "tests", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Breach(floors, c.folder, c.included).empty(), !c.breach) << c.folder << " -> " << c.included;
  }
}

}  // namespace
