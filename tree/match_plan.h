// The plan of a valid folder's repair file, made from the valid folder's listing and the
// test file's index alone, before any file is read: the two are matched folder by folder, by
// name, and then by name ignoring letter case, which decides which entries are extra, missing,
// renamed or to be compared.
#pragma once

#include <cstdint>
#include <vector>

#include "core/folder_repair_file.h"
#include "tree/listing.h"
#include "tree/outcome.h"
#include "tree/test_index.h"

// No entry on that side.
inline constexpr uint32_t kNoEntry = 0xFFFFFFFE;

// A record to write: valid is the listing's entry, broken the test file's.
struct PlannedRecord {
  FolderAction action;
  uint32_t valid;
  uint32_t broken;
};

struct MatchPlan {
  // Written first, so that a repair that deletes them clears the way; an extra folder after
  // what it holds.
  std::vector<PlannedRecord> extras;
  // The valid folder's entries in its order, each folder before what it holds.
  std::vector<PlannedRecord> records;
};

// Matches the whole tree. What needs no file read is told in result as it is decided (names
// that differ only in case, missing folders, extra entries, entries the broken folder's scan
// skipped, names the broken folder's system cannot hold), and the folders are counted there.
MatchPlan MatchTrees(const TreeListing& listing, const TestIndex& index, TreeOutcome& result);
