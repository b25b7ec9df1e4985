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
#include "core/compact_folder_file.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"
#include "core/folder_repair_file.h"
#include "stream/steps.h"
#include "support/path_buffer.h"
#include "support/strip_last_component.h"
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
    case FolderAction::KeyedExtra:
    case FolderAction::KeyedRename: break;  // resolved into the plain ones before any is applied
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
// names anything this system must not write. A folder's asking repair file is read into *asked
// instead, *asking set.
Outcome ReadRepairFile(FolderRepair& repair, const char* repairFilePath, const NameRules& rules, RepairPlan* plan,
                       TreeOutcome& result, AskingRepairFile* asked, bool* asking) {
  const FolderFileSteps steps{Step::OpenRepair, Step::SizeRepair, Step::CommitRepairBuffer,
                              Step::ReadRepair, Step::CheckRepairFileForOneFile, Step::CheckFolderRepairFile};
  Outcome opened = OpenFolderFile(repairFilePath, &repair.waits, ExchangeFileKind::FolderRepairFile, steps, &repair.repairFile,
                                  ExchangeFileKind::FolderAskingFile);
  if (opened.ending != Ending::Done) return opened;
  *asking = ReadExchangeFileKind(repair.repairFile.start, repair.repairFile.length) == ExchangeFileKind::FolderAskingFile;
  if (*asking) {
    uint8_t bytes[kAskingRepairFileBytes];
    if (repair.repairFile.length != sizeof bytes) return Refused(Step::CheckAskingRepairFile);
    if (const SystemError failed = ReadAt(repair.repairFile.file, 0, bytes, sizeof bytes)) return Stopped(Step::ReadRepair, failed);
    return ReadFolderAskingFile(bytes, sizeof bytes, asked) ? DoneOutcome() : Refused(Step::CheckAskingRepairFile);
  }
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

// A request for a larger test file: written where a follow-up goes, from a new read of the
// folder, which changes nothing in it.
Outcome AnswerRequest(FolderRepair& repair, const char* brokenFolderPath, const AskingRepairFile& asked,
                      const FolderRepairOptions& options, const StreamControl& control, TreeOutcome& result) {
  repair.repairFile.file = File();  // read whole: closed before the folder's read
  // A cap on the larger test file: the largest compact one within it, never one no larger than
  // the file already sent.
  AskingRepairFile capped = asked;
  if (options.budget != 0 && options.budget < asked.askedLength) {
    const uint32_t symbols = CompactFolderSymbolsForBudget(options.budget);
    if (symbols == 0 || CompactFolderLength(symbols) <= asked.answeredLength) return Refused(Step::CheckTestFileBudget);
    capped.askedLength = CompactFolderLength(symbols);
  }
  char folder[kPathBufferSize] = {};
  const char* into = options.followUpFolder;
  if (into == nullptr) {
    if (const SystemError failed = PutPathIntoBuffer(folder, brokenFolderPath)) return Stopped(Step::CreateOutput, failed);
    StripLastComponent(folder, kPathBufferSize);
    if (folder[0] == '\0') folder[0] = brokenFolderPath[0] == kPathSeparator ? kPathSeparator : '.';
    into = folder;
  }
  TreeOutcome answered = AnswerFolderRequest(brokenFolderPath, capped, into, control);
  result.entries = std::move(answered.entries);
  result.files = answered.files;
  result.folders = answered.folders;
  return answered.outcome;
}

Outcome Repair(FolderRepair& repair, const char* brokenFolderPath, const char* repairFilePath,
               const FolderRepairOptions& options, const StreamControl& control, TreeOutcome& result) {
  const NameRules rules = SystemNameRules(std::strlen(brokenFolderPath));
  RepairPlan plan;
  AskingRepairFile asked;
  bool asking = false;
  Outcome read = ReadRepairFile(repair, repairFilePath, rules, &plan, result, &asked, &asking);
  if (read.ending != Ending::Done) return read;
  if (asking) return AnswerRequest(repair, brokenFolderPath, asked, options, control, result);
  if (const SystemError failed = OpenFolder(brokenFolderPath, &repair.waits, &repair.top)) {
    return Stopped(Step::OpenBrokenFolder, failed);
  }
  if (HasKeyedChanges(plan)) {
    std::vector<EntryReport> told;  // the listing's skipped entries: the repair tells its own
    Outcome resolved = ResolveKeyedChanges(repair.top, control, &plan, &told);
    if (resolved.ending != Ending::Done) return resolved;
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
