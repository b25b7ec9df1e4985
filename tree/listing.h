// A folder's whole tree as one list, read before any file is: every entry with its kind and
// size, the entries of each folder side by side and sorted by name, each folder before its
// entries. Links and other entries that are no file or folder are listed as skipped and
// never entered. This list and the names are the only memory that grows with the tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/folder_test_file.h"
#include "platform/platform.h"
#include "stream/operations.h"
#include "tree/outcome.h"

inline constexpr uint32_t kTopFolder = 0xFFFFFFFF;

struct ListedEntry {
  uint64_t nameAt = 0;
  uint64_t size = 0;         // a file's
  uint32_t parent = kTopFolder;
  uint32_t firstEntry = 0;   // a folder's entries: firstEntry to firstEntry + entryCount - 1
  uint32_t entryCount = 0;
  uint16_t nameLength = 0;
  FolderEntryKind kind = FolderEntryKind::File;
  SkipReason reason = SkipReason::Link;  // skipped
  bool carried = true;       // skipped: whether an exchange file can name it
  bool fetchedWhenRead = false;  // a file only in the cloud
};

class TreeListing {
 public:
  std::vector<ListedEntry> entries;
  std::string names;
  // The top folder's entries.
  uint32_t firstEntry = 0;
  uint32_t entryCount = 0;
  uint64_t fileBytes = 0;
  // One of its folders takes names that differ only in letter case for one.
  bool ignoresCase = false;

  std::string_view Name(uint32_t index) const { return {names.data() + entries[index].nameAt, entries[index].nameLength}; }
  // '/' between the names, from the top folder down.
  std::string Path(uint32_t index) const;
  // The names of the folders above the entry, from the top folder down.
  void FolderNames(uint32_t index, std::vector<std::string_view>* names) const;
};

// Lists the tree of the open folder top. Entries that cannot be taken are listed as skipped
// and told in skipped; a folder below the top that cannot be listed is one of them. Done,
// Stopped (the top folder's listing, with listStep, or memory), or Cancelled.
Outcome ListTree(const FolderHandle& top, Step listStep, const StreamControl& control, TreeListing* listing,
                 std::vector<EntryReport>* skipped);
