// A folder repair file read and checked whole before the repair writes anything: every
// record's layout, every name against this system's rules (the one way from a name in it to
// a path, tree/names.h), no path twice, and no two that this file system would take for one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/fingerprint.h"
#include "core/folder_repair_file.h"
#include "core/outcome.h"
#include "tree/file_reader.h"
#include "tree/names.h"

// What a checked patch (action 7) has beyond a patch: the record of the broken file and where
// its values, samples and region fingerprints are in the repair file.
struct CheckedPatch {
  RepairOrigin origin;
  uint64_t valuesAt = 0;
  uint64_t samplesAt = 0;
  uint64_t regionsAt = 0;  // 0: a file of one region, whose fingerprint is its region's
};

inline constexpr uint32_t kNoCheckedPatch = 0xFFFFFFFF;

struct PlannedChange {
  uint64_t pathAt = 0;
  uint64_t oldNameAt = 0;
  uint64_t validSize = 0;
  Hash128 fingerprint;
  uint64_t blockNumbersAt = 0;
  uint64_t dataAt = 0;
  uint32_t blockCount = 0;
  uint32_t checked = kNoCheckedPatch;  // a checked patch: its entry in RepairPlan::checked
  // A whole file or checked patch of a repair file that carries stamps: the valid file's.
  bool stamped = false;
  FileStamp stamp;
  // Skipped there: what the valid folder has at the path, and why the broken folder's scan
  // skipped its entry.
  FolderEntryKind validKind = FolderEntryKind::File;
  SkipReason brokenReason = SkipReason::Link;
  uint16_t pathLength = 0;
  uint16_t oldNameLength = 0;
  FolderAction action = FolderAction::CreateFolder;
};

class RepairPlan {
 public:
  std::vector<PlannedChange> changes;
  std::vector<CheckedPatch> checked;
  std::string text;

  std::string_view Path(size_t i) const { return {text.data() + changes[i].pathAt, changes[i].pathLength}; }
  std::string_view OldName(size_t i) const { return {text.data() + changes[i].oldNameAt, changes[i].oldNameLength}; }
};

// Reads every record behind the header. Done; Stopped at ReadRepair (with the system's
// error), at CheckFolderRepairFile when the records do not hold together, at
// CheckRepairFileName with the name in *badPath and why in *fault, or at AllocateRepairPlan.
Outcome ReadRepairPlan(FileReader& reader, const FolderRepairHeader& header, const NameRules& rules, RepairPlan* plan,
                       std::string* badPath, NameFault* fault);
