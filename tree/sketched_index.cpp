// Making the broken folder's index from the differences a compact folder test file decoded to.
#include "tree/sketched_index.h"

#include <algorithm>

#include "core/compact_folder_file.h"
#include "core/sketch.h"

bool BuildSketchedFolder(const TreeListing& listing, const std::vector<uint64_t>& validValues,
                         const std::vector<uint64_t>& pathHashes, bool windowsNames,
                         const std::vector<SketchDifference>& found, SketchedFolder* folder) {
  for (const SketchDifference& difference : found) folder->differences.emplace(difference.key, difference.delta);
  TestIndex& index = folder->index;
  index.windowsNames = windowsNames;
  std::vector<uint32_t> indexOf(listing.entries.size(), kTopFolder);  // listing entry -> index entry
  std::vector<uint64_t> claimed;
  for (uint32_t i = 0; i < listing.entries.size(); ++i) {
    if (validValues[i] == 0) continue;
    const uint64_t key = FolderElementKey(FolderElement::Entry, pathHashes[i], 0);
    claimed.push_back(key);
    const uint64_t value = FieldAdd(validValues[i], folder->Delta(key));
    if (value == 0) continue;  // the broken folder has no entry here
    EntryValue broken;
    if (!LoadEntryValue(value, &broken)) return false;
    const ListedEntry& entry = listing.entries[i];
    // Its folder must be one the broken side has too: a key of a path whose folder it lacks is
    // no difference two real folders leave.
    uint32_t parent = kTopFolder;
    if (entry.parent != kTopFolder) {
      parent = indexOf[entry.parent];
      if (parent == kTopFolder || index.entries[parent].kind != FolderEntryKind::Folder) return false;
    }
    const std::string path = listing.Path(i);
    IndexedEntry indexed;
    indexed.pathAt = index.paths.size();
    indexed.pathLength = static_cast<uint16_t>(path.size());
    indexed.nameLength = entry.nameLength;
    indexed.kind = static_cast<FolderEntryKind>(broken.kind);
    indexed.reason = static_cast<SkipReason>(broken.reason);
    indexed.size = broken.size;
    indexed.parent = parent;
    index.paths += path;
    indexOf[i] = static_cast<uint32_t>(index.entries.size());
    index.entries.push_back(indexed);
    index.entryKeys.push_back(key);
    index.spellingDiffers.push_back(folder->Delta(FolderElementKey(FolderElement::Spelling, pathHashes[i], 0)) != 0);
    folder->listed.push_back(i);
  }
  std::sort(claimed.begin(), claimed.end());

  // Entry keys no valid path has: the broken folder's own entries. Those its scan skipped are
  // never deleted, and told by that scan.
  for (const SketchDifference& difference : found) {
    if (KindOfKey(difference.key) != FolderElement::Entry ||
        std::binary_search(claimed.begin(), claimed.end(), difference.key)) {
      continue;
    }
    EntryValue broken;
    if (!LoadEntryValue(difference.delta, &broken)) return false;
    if (broken.kind == static_cast<uint8_t>(FolderEntryKind::Skipped)) continue;
    IndexedEntry indexed;
    indexed.kind = static_cast<FolderEntryKind>(broken.kind);
    indexed.size = broken.size;
    indexed.parent = kNoIndexedFolder;
    indexed.pathAt = index.paths.size();
    folder->extras.push_back(static_cast<uint32_t>(index.entries.size()));
    index.entries.push_back(indexed);
    index.entryKeys.push_back(difference.key);
    index.spellingDiffers.push_back(false);
    folder->listed.push_back(kTopFolder);
  }

  std::vector<uint32_t>& byFolder = index.byFolder;
  for (uint32_t e = 0; e < index.entries.size(); ++e) {
    if (index.entries[e].parent != kNoIndexedFolder) byFolder.push_back(e);
  }
  std::sort(byFolder.begin(), byFolder.end(), [&index](uint32_t a, uint32_t b) {
    const IndexedEntry& x = index.entries[a];
    const IndexedEntry& y = index.entries[b];
    return x.parent != y.parent ? x.parent < y.parent : index.Name(a) < index.Name(b);
  });
  return true;
}
