// One record of a folder repair applied to its entry: what the units of the eight record
// actions share, and the units themselves. Each unit owns what it opens; what it did goes to the
// repair's work (reports, whether the folder changed, the files that still differ).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/fingerprint.h"
#include "platform/platform.h"
#include "stream/steps.h"
#include "tree/folder_follow_up.h"
#include "tree/operations.h"
#include "tree/repair_plan.h"

// The entry a record names: its place in the plan, its change, the open folder it is in and its
// name there.
struct Entry {
  size_t index;
  const PlannedChange& change;
  const FolderHandle& folder;
  std::string name;
};

// What the units read through and where they tell what they did.
struct RepairWork {
  RepairWork(const RepairPlan& plan, const File& repairFile, const FolderRepairOptions& options, Progress& progress,
             uint8_t* slice, uint8_t* brokenSlice, Hash128* regions, TreeOutcome& result)
      : plan(plan), repairFile(repairFile), options(options), progress(progress), slice(slice), brokenSlice(brokenSlice),
        regions(regions), result(result) {}

  const RepairPlan& plan;
  const File& repairFile;
  const FolderRepairOptions& options;
  Progress& progress;
  uint8_t* slice;        // kStreamBufferBytes
  uint8_t* brokenSlice;  // kStreamBufferBytes, with checked patches: the blocks of the file their records name
  Hash128* regions;      // kMostRegions: the region hashes of the file under way
  TreeOutcome& result;
  bool changed = false;
  std::vector<DifferingFile> differing;  // for the follow-up

  // Tells what happened to the entry of change i.
  EntryReport& Report(size_t i, EntryEvent event, EntrySkip skip = EntrySkip::None);
  EntryReport& Report(const Entry& entry, EntryEvent event, EntrySkip skip = EntrySkip::None) {
    return Report(entry.index, event, skip);
  }
  // An entry that could not be changed for a system's reason, or because of what stands there:
  // told as skipped, and the repair goes on.
  Outcome Skipped(size_t i, Step step, SystemError failed);
  Outcome Skipped(const Entry& entry, Step step, SystemError failed) { return Skipped(entry.index, step, failed); }
  Outcome Cancelled() const { return CancelledOutcome(changed); }
  // Reads the file back from its start (size bytes) and takes its fingerprint, regions too.
  Outcome ReadFingerprint(const File& file, uint64_t size, Fingerprinter* fingerprint);
  // Gives a file that matches its fingerprint the valid file's modification time, where the
  // repair file carries one and the file's own does not agree with it already; *set says
  // whether it was set. A failure is told as the entry's.
  SystemError KeepTime(const Entry& entry, const File& file, bool* set);
};

// Whether something stands at the name, and what; the failure when that cannot be told.
SystemError KindAt(const FolderHandle& folder, const std::string& name, EntryKind* kind, bool* present);
// The failure told for an entry of this kind standing where another is wanted: a link is told
// as one, anything else as otherwise.
SystemError InTheWay(EntryKind kind, SystemErrorKind otherwise);
bool IsMissing(SystemError failed);

// A file made as a temporary in a folder under repair, under a name of its own: closed when it
// goes, and then removed when it has a name by then, unless it was kept (renamed over its final
// name, or left for the next run). Until it is named the system removes it itself.
class TemporaryIn {
 public:
  explicit TemporaryIn(const FolderHandle& folder) : folder_(folder) {}
  ~TemporaryIn();
  TemporaryIn(const TemporaryIn&) = delete;
  TemporaryIn& operator=(const TemporaryIn&) = delete;

  // permissions: the bits it has from its creation on (kNoPermissions: a new file's own).
  SystemError Create(const std::string& finalName, uint32_t permissions = kNoPermissions);
  // Flushes the complete file and gives it its name.
  SystemError Name();
  // Closes the file, checked.
  SystemError Close();
  void Keep() { kept_ = true; }
  const char* name() const { return name_; }

  File file;

 private:
  const FolderHandle& folder_;
  char name_[kTemporaryNameRoom] = {};
  bool named_ = false;
  bool kept_ = false;
};

// What earlier runs that died left in the folders the repair enters: removed once per folder,
// but for temporaries of the size of a file this repair makes whole there, which may be one
// an earlier run wrote whole and kept for its rename; those are listed once per folder, for
// the whole files to check by their fingerprint and take.
class LeftTemporaries {
 public:
  explicit LeftTemporaries(const RepairPlan& plan);
  // key: the folder's path, as the plan writes it; empty for the top.
  void Sweep(const FolderHandle& folder, std::string_view key);

  struct Kept {
    std::string name;
    uint64_t size;
  };
  // A folder that cannot be listed has none.
  std::vector<Kept>& KeptIn(const FolderHandle& folder, std::string_view key);

 private:
  std::set<std::string, std::less<>> swept_;
  std::map<std::string, std::vector<uint64_t>, std::less<>> wholeSizes_;
  std::map<std::string, std::vector<Kept>, std::less<>> kept_;
};

// The path of change i's folder, as the plan writes it; empty for the top.
std::string_view FolderKey(const RepairPlan& plan, size_t i);

// The units, one per record action. Done, or the stop of the whole repair; an entry that cannot
// be changed is told and skipped.
Outcome RepairNewFolder(RepairWork& work, const Entry& entry);
Outcome RepairRename(RepairWork& work, const Entry& entry);
Outcome RepairPatch(RepairWork& work, const Entry& entry);
Outcome RepairCheckedPatch(RepairWork& work, const Entry& entry);
Outcome RepairWholeFile(RepairWork& work, const Entry& entry, std::vector<LeftTemporaries::Kept>& kept);
Outcome RepairExtraFile(RepairWork& work, const Entry& entry);
Outcome RepairExtraFolder(RepairWork& work, const Entry& entry);
Outcome RepairSkippedThere(RepairWork& work, const Entry& entry);
