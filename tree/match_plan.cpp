// Matching a valid folder's listing with a test file's index.
#include "tree/match_plan.h"

#include <algorithm>
#include <string>
#include <utility>

#include "tree/names.h"

namespace {

class Matcher {
 public:
  Matcher(const TreeListing& listing, const TestIndex& index, TreeOutcome& result)
      : listing_(listing), index_(index), result_(result) {}

  void Folder(uint32_t valid, uint32_t broken) {
    const std::vector<uint32_t> brokenEntries = broken == kNoEntry ? std::vector<uint32_t>() : index_.EntriesOf(broken);
    const uint32_t first = valid == kTopFolder ? listing_.firstEntry : listing_.entries[valid].firstEntry;
    const uint32_t count = valid == kTopFolder ? listing_.entryCount : listing_.entries[valid].entryCount;
    std::vector<uint32_t> validLeft, brokenLeft;
    // Both sides are sorted by name: a merge finds the names they share.
    size_t b = 0;
    for (uint32_t v = first; v < first + count; ++v) {
      while (b < brokenEntries.size() && index_.Name(brokenEntries[b]) < listing_.Name(v)) brokenLeft.push_back(brokenEntries[b++]);
      if (b < brokenEntries.size() && index_.Name(brokenEntries[b]) == listing_.Name(v) && listing_.entries[v].nameLength != 0) {
        Pair(v, brokenEntries[b++], false);
      } else {
        validLeft.push_back(v);
      }
    }
    while (b < brokenEntries.size()) brokenLeft.push_back(brokenEntries[b++]);

    // Then by name ignoring case: an entry renamed only in letter case is renamed back.
    std::vector<std::pair<std::string, uint32_t>> brokenFolded;
    for (const uint32_t e : brokenLeft) brokenFolded.emplace_back(CaseKey(index_.Name(e)), e);
    std::sort(brokenFolded.begin(), brokenFolded.end());
    std::vector<bool> brokenTaken(brokenFolded.size(), false);
    std::vector<std::string> foldsTaken;
    for (const uint32_t v : validLeft) {
      if (listing_.entries[v].nameLength == 0) continue;  // a name no exchange file carries: told already
      const std::string folded = CaseKey(listing_.Name(v));
      const auto at = std::lower_bound(brokenFolded.begin(), brokenFolded.end(), std::make_pair(folded, uint32_t{0}));
      const size_t i = static_cast<size_t>(at - brokenFolded.begin());
      if (at != brokenFolded.end() && at->first == folded && !brokenTaken[i]) {
        brokenTaken[i] = true;
        Pair(v, at->second, true);
      } else {
        Missing(v, first, count);
      }
    }
    for (size_t i = 0; i < brokenFolded.size(); ++i) {
      if (!brokenTaken[i]) Extra(brokenFolded[i].second);
    }
  }

  MatchPlan plan;

 private:
  void Report(std::string path, EntryEvent event, EntrySkip skip = EntrySkip::None) {
    EntryReport report;
    report.path = std::move(path);
    report.event = event;
    report.skip = skip;
    result_.entries.push_back(std::move(report));
  }

  void Pair(uint32_t v, uint32_t b, bool renamed) {
    const ListedEntry& valid = listing_.entries[v];
    const IndexedEntry& broken = index_.entries[b];
    // A link or another entry the valid scan skipped has been told; what the broken folder
    // has in its place is left alone.
    if (valid.kind == FolderEntryKind::Skipped) return;
    if (broken.kind == FolderEntryKind::Skipped) {
      Report(listing_.Path(v), EntryEvent::Skipped, EntrySkip::BrokenSide);
      result_.entries.back().brokenReason = broken.reason;
      result_.entries.back().folder = valid.kind == FolderEntryKind::Folder;
      // An entry of another kind is carried as a record that carries nothing, so that the
      // repair names it too: the folder is not what the valid one is until it is put right by
      // hand. A file the scan could not read was told by that scan.
      if (broken.reason != SkipReason::Unreadable) plan.records.push_back(PlannedRecord{FolderAction::SkippedThere, v, b});
      return;
    }
    if (valid.kind != broken.kind) {
      Extra(b);
      Missing(v, v, 1);
      return;
    }
    if (renamed) {
      plan.records.push_back(PlannedRecord{FolderAction::Rename, v, b});
      Report(listing_.Path(v), EntryEvent::CaseDiffers);
      result_.entries.back().folder = valid.kind == FolderEntryKind::Folder;
    }
    if (valid.kind == FolderEntryKind::Folder) {
      ++result_.folders;
      Folder(v, b);
    } else {
      plan.records.push_back(PlannedRecord{FolderAction::Patch, v, b});
    }
  }

  // A valid entry the broken folder lacks, with all it holds; siblings are the valid entries
  // of its folder, for names that would be one there.
  void Missing(uint32_t v, uint32_t firstSibling, uint32_t siblingCount) {
    const ListedEntry& valid = listing_.entries[v];
    if (valid.kind == FolderEntryKind::Skipped) return;
    if (index_.windowsNames) {
      NameFault fault = CheckComponent(listing_.Name(v), OtherSideNameRules(true));
      // Names that differ only in case are one name there: the first of them is carried.
      const std::string folded = CaseKey(listing_.Name(v));
      for (uint32_t s = firstSibling; s < firstSibling + siblingCount && fault == NameFault::None && s < v; ++s) {
        if (listing_.entries[s].nameLength != 0 && CaseKey(listing_.Name(s)) == folded) fault = NameFault::CaseClash;
      }
      if (fault != NameFault::None) {
        Report(listing_.Path(v), EntryEvent::Skipped, EntrySkip::NotPossibleThere);
        result_.entries.back().nameFault = fault;
        result_.entries.back().folder = valid.kind == FolderEntryKind::Folder;
        return;
      }
    }
    if (valid.kind == FolderEntryKind::Folder) {
      plan.records.push_back(PlannedRecord{FolderAction::CreateFolder, v, kNoEntry});
      Report(listing_.Path(v), EntryEvent::FolderMissing);
      result_.entries.back().folder = true;
      ++result_.folders;
      Folder(v, kNoEntry);
    } else {
      plan.records.push_back(PlannedRecord{FolderAction::WholeFile, v, kNoEntry});
    }
  }

  // A broken entry the valid folder lacks: its own entries first, so that a repair deleting
  // them finds the folder empty. Walked with a list of its own: the test file is someone
  // else's, and its depth is not bounded.
  void Extra(uint32_t top) {
    std::vector<std::pair<uint32_t, bool>> stack{{top, false}};
    while (!stack.empty()) {
      auto [b, expanded] = stack.back();
      stack.pop_back();
      const IndexedEntry& broken = index_.entries[b];
      if (broken.kind == FolderEntryKind::Folder && !expanded) {
        stack.push_back({b, true});
        const std::vector<uint32_t> inside = index_.EntriesOf(b);
        for (auto e = inside.rbegin(); e != inside.rend(); ++e) stack.push_back({*e, false});
        continue;
      }
      if (broken.kind == FolderEntryKind::Skipped) {
        Report(std::string(index_.Path(b)), EntryEvent::Skipped, EntrySkip::BrokenSide);
        result_.entries.back().brokenReason = broken.reason;
        continue;
      }
      const bool folder = broken.kind == FolderEntryKind::Folder;
      plan.extras.push_back(PlannedRecord{folder ? FolderAction::ExtraFolder : FolderAction::ExtraFile, kNoEntry, b});
      Report(std::string(index_.Path(b)), EntryEvent::Extra);
      result_.entries.back().folder = folder;
    }
  }

  const TreeListing& listing_;
  const TestIndex& index_;
  TreeOutcome& result_;
};

}  // namespace

MatchPlan MatchTrees(const TreeListing& listing, const TestIndex& index, TreeOutcome& result) {
  Matcher matcher(listing, index, result);
  matcher.Folder(kTopFolder, kTopFolder);
  return std::move(matcher.plan);
}
