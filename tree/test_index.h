// A folder test file read for the valid folder's scan: every entry it describes, with where
// its checksums and region fingerprints are in the file, each folder's entries found by name.
// The checksums themselves stay in the file until a file is compared.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/fingerprint.h"
#include "core/folder_test_file.h"
#include "core/outcome.h"
#include "tree/file_reader.h"
#include "tree/listing.h"

// The folder of an entry known only by key, in no folder of the index.
inline constexpr uint32_t kNoIndexedFolder = 0xFFFFFFFD;

struct IndexedEntry {
  uint64_t pathAt = 0;
  uint64_t size = 0;
  Hash128 fingerprint;
  uint64_t checksumsAt = 0;
  uint64_t regionsAt = 0;
  uint32_t parent = kTopFolder;
  uint16_t pathLength = 0;
  uint16_t nameLength = 0;
  FolderEntryKind kind = FolderEntryKind::File;
  SkipReason reason = SkipReason::Link;
};

class TestIndex {
 public:
  std::vector<IndexedEntry> entries;
  std::string paths;
  // Entry indices sorted by folder, then by name.
  std::vector<uint32_t> byFolder;
  bool windowsNames = false;
  // Made from a compact test file (tree/sketched_index.h): per entry, its entry key, and
  // whether its name there is spelled otherwise (letter case); empty for a plain one.
  std::vector<uint64_t> entryKeys;
  std::vector<bool> spellingDiffers;

  bool SpellingDiffers(uint32_t index) const { return !spellingDiffers.empty() && spellingDiffers[index]; }

  std::string_view Path(uint32_t index) const { return {paths.data() + entries[index].pathAt, entries[index].pathLength}; }
  std::string_view Name(uint32_t index) const {
    const IndexedEntry& entry = entries[index];
    return {paths.data() + entry.pathAt + entry.pathLength - entry.nameLength, entry.nameLength};
  }
  // The entries of a folder (kTopFolder for the top one), by name.
  std::vector<uint32_t> EntriesOf(uint32_t folder) const;
};

// Reads every record of the test file behind its header. Done; Stopped at ReadTest (with
// the system's error), at CheckFolderTestFile when the records do not hold together (a
// name no exchange file may carry, an entry twice, an entry whose folder is not before it),
// or at AllocateListing.
Outcome ReadTestIndex(FileReader& reader, const FolderTestHeader& header, TestIndex* index);
