// The repair of a folder. The whole repair file, every name in it included, is checked
// before the folder is even opened; then its records are applied in order, each in the
// folder its path names, reached one name at a time without following a link, by the unit of
// its action (tree/repair_entry.h). A damaged file gets only its carried blocks and its length,
// then is read back against its fingerprint; a missing file is written under a temporary name
// and renamed once complete and checked. Every change can be made again, so a repair cut short
// is finished by running it again. Entries that are not as the repair file expects are told and
// left. A new file whose rename another program holds up stays whole under its temporary name,
// and the next run renames it instead of writing it again.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/block.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"
#include "core/folder_repair_file.h"
#include "stream/steps.h"
#include "tree/file_reader.h"
#include "tree/folder_cursor.h"
#include "tree/folder_file.h"
#include "tree/folder_follow_up.h"
#include "tree/names.h"
#include "tree/operations.h"
#include "tree/repair_entry.h"
#include "tree/repair_plan.h"

namespace {

// What one call holds, released as it goes; the waits first, which the files keep.
struct FolderRepair {
  explicit FolderRepair(const std::atomic<bool>* stop) : waits(stop) {}
  HeldFileWaits waits;
  FolderFile repairFile;
  FolderHandle top;
  Memory slice;
  Memory brokenSlice;  // the file's blocks a checked patch's record names
  Memory regions;      // room for the region hashes of the file under way
};

// Reaches the entry change i names, in the folder its path names, and applies the change by
// the unit of its action.
Outcome Apply(RepairWork& work, FolderCursor& cursor, LeftTemporaries& left, const NameRules& rules, size_t i) {
  const PlannedChange& change = work.plan.changes[i];
  TreePath path;
  ParseTreePath(work.plan.Path(i), rules, &path);
  std::string name(path.components.back());
  path.components.pop_back();
  const FolderHandle* folder;
  if (const SystemError failed = cursor.MoveTo(path.components, &folder)) {
    // An extra entry whose folder is gone went with it: an earlier run deleted them.
    const bool extra = change.action == FolderAction::ExtraFile || change.action == FolderAction::ExtraFolder;
    if (extra && IsMissing(failed)) return DoneOutcome();
    return work.Skipped(i, Step::OpenBrokenFolder, failed);
  }
  const std::string_view key = FolderKey(work.plan, i);
  left.Sweep(*folder, key);
  const Entry entry{i, change, *folder, std::move(name)};
  switch (change.action) {
    case FolderAction::CreateFolder: return RepairNewFolder(work, entry);
    case FolderAction::Rename: return RepairRename(work, entry);
    case FolderAction::Patch: return RepairPatch(work, entry);
    case FolderAction::CheckedPatch: return RepairCheckedPatch(work, entry);
    case FolderAction::WholeFile: return RepairWholeFile(work, entry, left.KeptIn(*folder, key));
    case FolderAction::ExtraFile: return RepairExtraFile(work, entry);
    case FolderAction::ExtraFolder: return RepairExtraFolder(work, entry);
    case FolderAction::SkippedThere: return RepairSkippedThere(work, entry);
  }
  return DoneOutcome();
}

// The plan, record by record, after the sweep of the top folder.
Outcome ApplyPlan(RepairWork& work, const FolderHandle& top, const NameRules& rules) {
  FolderCursor cursor(top);
  try {
    LeftTemporaries left(work.plan);
    left.Sweep(top, "");
    for (size_t i = 0; i < work.plan.changes.size(); ++i) {
      if (work.progress.StopRequested()) return work.Cancelled();
      Outcome applied;
      try {
        applied = Apply(work, cursor, left, rules, i);
      } catch (const std::bad_alloc&) {
        applied = Stopped(Step::AllocateRepairEntry, ErrorOf(SystemErrorKind::NotEnoughMemory));
      }
      if (applied.ending != Ending::Done) {
        applied.brokenFileChanged = work.changed;
        if (applied.ending == Ending::Stopped) work.result.stoppedAt = std::string(work.plan.Path(i));
        return applied;
      }
    }
  } catch (const std::bad_alloc&) {
    return Stopped(Step::AllocateRepairEntry, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  cursor.Close();
  // A stop that ended the wait for the last entry, held by another program, is a stop too.
  if (work.progress.StopRequested()) return work.Cancelled();
  return DoneOutcome();
}

// Opens the repair file and reads its plan: refused when it is not a folder repair file or
// names anything this system must not write.
Outcome ReadRepairFile(FolderRepair& repair, const char* repairFilePath, const NameRules& rules, RepairPlan* plan,
                       TreeOutcome& result) {
  const FolderFileSteps steps{Step::OpenRepair, Step::SizeRepair, Step::CommitRepairBuffer,
                              Step::ReadRepair, Step::CheckRepairFileForOneFile, Step::CheckFolderRepairFile};
  Outcome opened = OpenFolderFile(repairFilePath, &repair.waits, ExchangeFileKind::FolderRepairFile, steps, &repair.repairFile);
  if (opened.ending != Ending::Done) return opened;
  FolderRepairHeader header;
  if (ReadFolderRepairHeader(repair.repairFile.start, repair.repairFile.length, &header) != FolderFileVerdict::Read) {
    return Refused(Step::CheckFolderRepairFile);
  }
  FileReader reader = repair.repairFile.Records();
  Outcome read = ReadRepairPlan(reader, header, rules, plan, &result.stoppedAt, &result.nameFault);
  // The records are in the plan now; the blocks are read at their offsets.
  repair.repairFile.buffer.Release();
  return read;
}

Outcome Repair(FolderRepair& repair, const char* brokenFolderPath, const char* repairFilePath,
               const FolderRepairOptions& options, const StreamControl& control, TreeOutcome& result) {
  const NameRules rules = SystemNameRules(std::strlen(brokenFolderPath));
  RepairPlan plan;
  Outcome read = ReadRepairFile(repair, repairFilePath, rules, &plan, result);
  if (read.ending != Ending::Done) return read;
  if (const SystemError failed = OpenFolder(brokenFolderPath, &repair.waits, &repair.top)) {
    return Stopped(Step::OpenBrokenFolder, failed);
  }
  if (const SystemError failed = CommitMemory(kStreamBufferBytes, &repair.slice)) {
    return Stopped(Step::CommitBrokenBuffer, failed);
  }
  if (const SystemError failed = CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * kMostRegions), &repair.regions)) {
    return Stopped(Step::AllocateReadBack, failed);
  }
  // The file's blocks beside the carried ones: a checked patch's record, and every patch's look
  // at what is in place already.
  const bool patches = std::any_of(plan.changes.begin(), plan.changes.end(), [](const PlannedChange& change) {
    return change.blockCount > 0 || change.action == FolderAction::CheckedPatch;
  });
  if (patches) {
    if (const SystemError failed = CommitMemory(kStreamBufferBytes, &repair.brokenSlice)) {
      return Stopped(Step::CommitBrokenBuffer, failed);
    }
  }

  uint64_t total = 0;
  for (const PlannedChange& change : plan.changes) {
    if (change.action == FolderAction::Patch || change.action == FolderAction::CheckedPatch) {
      total += uint64_t{change.blockCount} * kBlockSize;
    }
    if (change.action == FolderAction::WholeFile) total += change.validSize;
  }
  Progress progress(control, total);
  RepairWork work(plan, repair.repairFile.file, options, progress, repair.slice.bytes(), repair.brokenSlice.bytes(),
                  repair.regions.As<Hash128>(), result);
  Outcome applied = ApplyPlan(work, repair.top, rules);
  applied.brokenFileChanged = work.changed;
  if (applied.ending != Ending::Done || work.differing.empty()) return applied;
  // Files that still differ: the follow-up that brings exactly their differing blocks.
  Outcome followUp =
      WriteFolderFollowUp(repair.top, brokenFolderPath, options.followUpFolder, work.differing, repair.slice.bytes(), progress);
  followUp.brokenFileChanged = work.changed;
  return followUp;
}

}  // namespace

TreeOutcome RepairBrokenFolder(const char* brokenFolderPath, const char* repairFilePath, const FolderRepairOptions& options,
                               const StreamControl& control) {
  FolderRepair repair(control.stop);
  TreeOutcome result;
  try {
    result.outcome = Repair(repair, brokenFolderPath, repairFilePath, options, control, result);
  } catch (const std::bad_alloc&) {
    // The plan catches its own; what is left is the memory of the entry under way.
    result.outcome = Stopped(Step::AllocateRepairEntry, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  return result;
}
