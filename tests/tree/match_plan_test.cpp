// The match of a valid folder's listing with a test file's index, as a pure plan: listings and
// indexes made in memory, no file anywhere. Each case gives both trees ("name/" a folder,
// "name@" a link, "name#" a device or pipe, anything else a file) and the records planned,
// what is told and how many folders are counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tree/match_plan.h"

namespace {

struct Sketch {
  std::string path;
  FolderEntryKind kind = FolderEntryKind::File;
  SkipReason reason = SkipReason::Link;
};

Sketch Parse(std::string text) {
  Sketch sketch;
  const char mark = text.back();
  if (mark == '/' || mark == '@' || mark == '#') text.pop_back();
  if (mark == '/') sketch.kind = FolderEntryKind::Folder;
  if (mark == '@' || mark == '#') sketch.kind = FolderEntryKind::Skipped;
  if (mark == '#') sketch.reason = SkipReason::NotRegular;
  sketch.path = text;
  return sketch;
}

std::string FolderOf(const std::string& path) { return path.find('/') == std::string::npos ? "" : path.substr(0, path.rfind('/')); }

// As ListTree lists: each folder's entries side by side, sorted by name, after the folder.
TreeListing MakeListing(const std::vector<std::string>& texts) {
  std::map<std::string, std::vector<Sketch>> inside;
  for (const std::string& text : texts) inside[FolderOf(Parse(text).path)].push_back(Parse(text));
  TreeListing listing;
  std::vector<std::pair<uint32_t, std::string>> folders{{kTopFolder, ""}};
  for (size_t f = 0; f < folders.size(); ++f) {
    std::vector<Sketch> entries = inside[folders[f].second];
    std::sort(entries.begin(), entries.end(), [](const Sketch& a, const Sketch& b) { return a.path < b.path; });
    const uint32_t first = static_cast<uint32_t>(listing.entries.size());
    if (folders[f].first == kTopFolder) {
      listing.firstEntry = first;
      listing.entryCount = static_cast<uint32_t>(entries.size());
    } else {
      listing.entries[folders[f].first].firstEntry = first;
      listing.entries[folders[f].first].entryCount = static_cast<uint32_t>(entries.size());
    }
    for (const Sketch& sketch : entries) {
      const std::string name = sketch.path.substr(FolderOf(sketch.path).empty() ? 0 : FolderOf(sketch.path).size() + 1);
      ListedEntry entry;
      entry.nameAt = listing.names.size();
      entry.nameLength = static_cast<uint16_t>(name.size());
      entry.parent = folders[f].first;
      entry.kind = sketch.kind;
      entry.reason = sketch.reason;
      listing.names += name;
      if (sketch.kind == FolderEntryKind::Folder) folders.emplace_back(static_cast<uint32_t>(listing.entries.size()), sketch.path);
      listing.entries.push_back(entry);
    }
  }
  return listing;
}

// As ReadTestIndex reads: the entries in the test file's order, each folder before its own.
TestIndex MakeIndex(const std::vector<std::string>& texts, bool windowsNames) {
  TestIndex index;
  index.windowsNames = windowsNames;
  std::map<std::string, uint32_t> byPath;
  for (const std::string& text : texts) {
    const Sketch sketch = Parse(text);
    IndexedEntry entry;
    entry.pathAt = index.paths.size();
    entry.pathLength = static_cast<uint16_t>(sketch.path.size());
    entry.nameLength = static_cast<uint16_t>(sketch.path.size() - (FolderOf(sketch.path).empty() ? 0 : FolderOf(sketch.path).size() + 1));
    entry.parent = FolderOf(sketch.path).empty() ? kTopFolder : byPath.at(FolderOf(sketch.path));
    entry.kind = sketch.kind;
    entry.reason = sketch.reason;
    index.paths += sketch.path;
    byPath[sketch.path] = static_cast<uint32_t>(index.entries.size());
    index.byFolder.push_back(static_cast<uint32_t>(index.entries.size()));
    index.entries.push_back(entry);
  }
  std::sort(index.byFolder.begin(), index.byFolder.end(), [&index](uint32_t a, uint32_t b) {
    return index.entries[a].parent != index.entries[b].parent ? index.entries[a].parent < index.entries[b].parent
                                                              : index.Name(a) < index.Name(b);
  });
  return index;
}

// The plan and what is told, in words of the test's own.
std::string Describe(const MatchPlan& plan, const TreeOutcome& result, const TreeListing& listing, const TestIndex& index) {
  static const char* const kActions[] = {"?", "folder", "rename", "patch", "whole", "extra-file", "extra-folder", "checked",
                                         "skipped-there"};
  static const char* const kEvents[] = {"skipped", "damaged", "missing", "folder-missing", "case-differs", "extra"};
  static const std::map<NameFault, const char*> kFaults = {
      {NameFault::ReservedName, "reserved"}, {NameFault::TrailingDotOrSpace, "trailing"}, {NameFault::CaseClash, "case-clash"}};
  std::string text = "records:";
  for (const std::vector<PlannedRecord>* list : {&plan.extras, &plan.records}) {
    for (const PlannedRecord& record : *list) {
      text.append(" ").append(kActions[static_cast<int>(record.action)]).append(" ");
      text.append(record.valid != kNoEntry ? listing.Path(record.valid) : std::string(index.Path(record.broken)));
      if (record.action == FolderAction::Rename) text.append("<").append(index.Name(record.broken));
    }
  }
  text += "; told:";
  for (const EntryReport& entry : result.entries) {
    text.append(" ").append(kEvents[static_cast<int>(entry.event)]);
    if (entry.skip == EntrySkip::BrokenSide) text += entry.brokenReason == SkipReason::Link ? "(broken:link)" : "(broken:other)";
    if (entry.skip == EntrySkip::NotPossibleThere) text.append("(").append(kFaults.at(entry.nameFault)).append(")");
    text += " " + entry.path + (entry.folder ? "/" : "");
  }
  return text + "; folders: " + std::to_string(result.folders);
}

struct MatchCase {
  const char* name;
  std::vector<std::string> valid;
  std::vector<std::string> broken;
  bool windowsNames;
  const char* expected;
};

std::ostream& operator<<(std::ostream& out, const MatchCase& c) { return out << c.name; }

class MatchPlanTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchPlanTest, PlansTheRecordsAndTellsWhatNeedsNoFile) {
  const MatchCase& c = GetParam();
  const TreeListing listing = MakeListing(c.valid);
  const TestIndex index = MakeIndex(c.broken, c.windowsNames);
  TreeOutcome result;
  const MatchPlan plan = MatchTrees(listing, index, result);
  EXPECT_EQ(Describe(plan, result, listing, index), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, MatchPlanTest,
    ::testing::Values(
        MatchCase{"SameNames", {"a.txt", "d/", "d/b.txt"}, {"a.txt", "d/", "d/b.txt"}, false,
                  "records: patch a.txt patch d/b.txt; told:; folders: 1"},
        MatchCase{"CaseOnlyRenames", {"Dir/", "Dir/p.bin", "READ.me"}, {"dir/", "dir/p.bin", "read.me"}, false,
                  "records: rename Dir<dir patch Dir/p.bin rename READ.me<read.me patch READ.me; "
                  "told: case-differs Dir/ case-differs READ.me; folders: 1"},
        // Where a name matches only with the other's letter case, the exact one is taken first.
        MatchCase{"ExactBeforeCase", {"a", "A"}, {"a"}, false, "records: patch a whole A; told:; folders: 0"},
        MatchCase{"KindChanges", {"k/", "k/f", "m"}, {"k", "m/", "m/g"}, false,
                  "records: extra-file k extra-file m/g extra-folder m folder k whole k/f whole m; "
                  "told: extra k folder-missing k/ extra m/g extra m/; folders: 1"},
        MatchCase{"MissingFolders", {"new/", "new/sub/", "new/sub/w.bin", "new/x"}, {}, false,
                  "records: folder new folder new/sub whole new/sub/w.bin whole new/x; "
                  "told: folder-missing new/ folder-missing new/sub/; folders: 2"},
        MatchCase{"ExtrasNested", {}, {"old/", "old/in/", "old/in/f", "old/g", "z"}, false,
                  "records: extra-file old/g extra-file old/in/f extra-folder old/in extra-folder old extra-file z; "
                  "told: extra old/g extra old/in/f extra old/in/ extra old/ extra z; folders: 0"},
        MatchCase{"SkippedOnEitherSide", {"f", "g@", "lnk@"}, {"f@", "h#", "lnk"}, false,
                  "records: skipped-there f; told: skipped(broken:link) f skipped(broken:other) h; folders: 0"},
        MatchCase{"NamesTheOtherSideCannotHold", {"Abc", "CON.txt", "a.", "abc", "new/", "new/NUL"}, {}, true,
                  "records: whole Abc folder new; told: skipped(reserved) CON.txt skipped(trailing) a. "
                  "skipped(case-clash) abc folder-missing new/ skipped(reserved) new/NUL; folders: 1"},
        MatchCase{"NamesThisSideHolds", {"Abc", "CON.txt", "a.", "abc"}, {}, false,
                  "records: whole Abc whole CON.txt whole a. whole abc; told:; folders: 0"}),
    [](const ::testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

}  // namespace
