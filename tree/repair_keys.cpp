// The keyed records of a folder repair file made from a compact folder test file, resolved in
// the broken folder's own listing: the valid side knows these entries only by their keys.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/compact_folder_file.h"
#include "stream/steps.h"
#include "tree/folder_sketch.h"
#include "tree/listing.h"
#include "tree/repair_plan.h"

bool HasKeyedChanges(const RepairPlan& plan) {
  return std::any_of(plan.changes.begin(), plan.changes.end(), [](const PlannedChange& change) {
    return change.action == FolderAction::KeyedExtra || change.action == FolderAction::KeyedRename;
  });
}

Outcome ResolveKeyedChanges(const FolderHandle& top, const StreamControl& control, RepairPlan* plan,
                            std::vector<EntryReport>* skipped) {
  TreeListing listing;
  Outcome listed = ListTree(top, Step::ListFolder, control, &listing, skipped);
  if (listed.ending != Ending::Done) return listed;
  const std::vector<uint64_t> keys = ListingEntryKeys(listing);
  constexpr uint32_t kNoListed = 0xFFFFFFFE;  // no entry has the key (or a plain record)
  constexpr uint32_t kShared = 0xFFFFFFFF;
  std::unordered_map<uint64_t, uint32_t> wanted;
  for (const PlannedChange& change : plan->changes) {
    if (change.action == FolderAction::KeyedExtra || change.action == FolderAction::KeyedRename) {
      if (!wanted.emplace(change.key, kNoListed).second) return Refused(Step::CheckFolderRepairFile);
    }
  }
  for (uint32_t i = 0; i < keys.size(); ++i) {
    const auto found = wanted.find(keys[i]);
    if (keys[i] == 0 || found == wanted.end()) continue;
    found->second = found->second == kNoListed ? i : kShared;
  }

  // The extras with the listing entry each is, then the rest, in order.
  std::vector<std::pair<uint32_t, PlannedChange>> extras;
  std::vector<PlannedChange> rest;
  for (PlannedChange change : plan->changes) {
    const bool keyed = change.action == FolderAction::KeyedExtra || change.action == FolderAction::KeyedRename;
    uint32_t entry = kNoListed;
    if (keyed) {
      entry = wanted[change.key];
      if (entry == kShared) return Refused(Step::CheckFolderRepairFile);
      // An extra gone since the scan is done.
      if (entry == kNoListed && change.action == FolderAction::KeyedExtra) continue;
    }
    if (change.action == FolderAction::KeyedRename) {
      // No entry of the key: renamed by an earlier run, left under the middle name by one that
      // died half way, or gone; the rename finds which by the new name itself.
      const std::string_view path(plan->text.data() + change.pathAt, change.pathLength);
      const std::string_view newName = path.substr(path.rfind('/') + 1);
      const std::string_view name = entry == kNoListed ? newName : listing.Name(entry);
      if (entry != kNoListed && name == newName) continue;  // spelled so already
      change.action = FolderAction::Rename;
      change.oldNameAt = plan->text.size();
      change.oldNameLength = static_cast<uint16_t>(name.size());
      plan->text += name;
    } else if (change.action == FolderAction::KeyedExtra) {
      const FolderEntryKind kind = listing.entries[entry].kind;
      if (kind == FolderEntryKind::Skipped) continue;
      change.action = kind == FolderEntryKind::Folder ? FolderAction::ExtraFolder : FolderAction::ExtraFile;
      const std::string path = listing.Path(entry);
      change.pathAt = plan->text.size();
      change.pathLength = static_cast<uint16_t>(path.size());
      plan->text += path;
    }
    if (change.action == FolderAction::ExtraFile || change.action == FolderAction::ExtraFolder) {
      extras.emplace_back(entry, change);
    } else {
      rest.push_back(change);
    }
  }
  // A folder is listed before what it holds: from the last entry back, each comes before it.
  std::stable_sort(extras.begin(), extras.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  plan->changes.clear();
  for (const auto& extra : extras) plan->changes.push_back(extra.second);
  plan->changes.insert(plan->changes.end(), rest.begin(), rest.end());
  return DoneOutcome();
}
