// The records that change only names in a folder under repair: a new folder, a rename of
// letter case, and the extra files and folders, deleted only when asked.
#include "platform/temporary_name.h"
#include "tree/repair_entry.h"

namespace {

Outcome RemoveExtra(RepairWork& work, const Entry& entry, EntryKind wanted) {
  EntryKind kind;
  bool present;
  if (const SystemError failed = KindAt(entry.folder, entry.name, &kind, &present)) {
    return work.Skipped(entry, Step::RemoveExtra, failed);
  }
  if (!present) return DoneOutcome();
  if (kind != wanted) return work.Skipped(entry, Step::RemoveExtra, InTheWay(kind, SystemErrorKind::AlreadyExists));
  if (!work.options.deleteExtra) {
    work.Report(entry, EntryEvent::Extra);
    return DoneOutcome();
  }
  const SystemError failed = wanted == EntryKind::Folder ? RemoveFolderIn(entry.folder, entry.name.c_str())
                                                         : RemoveFileIn(entry.folder, entry.name.c_str());
  if (failed) return work.Skipped(entry, Step::RemoveExtra, failed);
  work.changed = true;
  work.Report(entry, EntryEvent::Deleted);
  return DoneOutcome();
}

Outcome Renamed(RepairWork& work, const Entry& entry) {
  work.changed = true;
  work.Report(entry, EntryEvent::Renamed);
  return DoneOutcome();
}

}  // namespace

Outcome RepairExtraFile(RepairWork& work, const Entry& entry) { return RemoveExtra(work, entry, EntryKind::File); }

Outcome RepairExtraFolder(RepairWork& work, const Entry& entry) { return RemoveExtra(work, entry, EntryKind::Folder); }

// An entry of another kind where the valid folder has a file or folder: nothing is carried for
// it, and it is named with what stands there now, so that the repair does not end as if the
// folder were the valid one.
Outcome RepairSkippedThere(RepairWork& work, const Entry& entry) {
  EntryKind kind;
  bool present;
  if (const SystemError failed = KindAt(entry.folder, entry.name, &kind, &present)) {
    return work.Skipped(entry, Step::OpenBroken, failed);
  }
  EntrySkip skip = EntrySkip::BrokenSide;
  if (!present) skip = EntrySkip::Gone;
  if (present && kind == EntryKind::Link) skip = EntrySkip::Link;
  if (present && kind == EntryKind::Other) skip = EntrySkip::NotRegular;
  EntryReport& report = work.Report(entry, EntryEvent::Skipped, skip);
  report.folder = entry.change.validKind == FolderEntryKind::Folder;
  report.brokenReason = entry.change.brokenReason;
  return DoneOutcome();
}

Outcome RepairNewFolder(RepairWork& work, const Entry& entry) {
  EntryKind kind;
  bool present;
  if (const SystemError failed = KindAt(entry.folder, entry.name, &kind, &present)) {
    return work.Skipped(entry, Step::CreateFolder, failed);
  }
  if (present) {
    // Made by an earlier run of the same repair, or since the scan: either way nothing in it
    // is replaced, and what goes into it is checked by its own records.
    if (kind != EntryKind::Folder) return work.Skipped(entry, Step::CreateFolder, InTheWay(kind, SystemErrorKind::AlreadyExists));
    return DoneOutcome();
  }
  if (const SystemError failed = CreateSubfolder(entry.folder, entry.name.c_str())) {
    return work.Skipped(entry, Step::CreateFolder, failed);
  }
  work.changed = true;
  ++work.result.folders;
  work.Report(entry, EntryEvent::FolderCreated);
  return DoneOutcome();
}

Outcome RepairRename(RepairWork& work, const Entry& entry) {
  const std::string oldName(work.plan.OldName(entry.index));
  EntryKind kind;
  bool present;
  if (const SystemError failed = KindAt(entry.folder, oldName, &kind, &present)) {
    return work.Skipped(entry, Step::RenameEntry, failed);
  }
  if (!present) {
    // Renamed by an earlier run, or left by one that died half way under the middle name of
    // its own that a rename of case alone goes through (platform/temporary_name.h), or gone.
    if (const SystemError failed = KindAt(entry.folder, entry.name, &kind, &present)) {
      return work.Skipped(entry, Step::RenameEntry, failed);
    }
    if (present) return DoneOutcome();
    char middle[kTemporaryNameRoom];
    ComposeMiddleName(entry.name.c_str(), middle, sizeof middle);
    SystemError failed = GetEntryKind(entry.folder, middle, &kind);
    if (!failed) failed = RenameIn(entry.folder, middle, entry.name.c_str(), TakenName::Refuse);
    if (failed) return work.Skipped(entry, Step::RenameEntry, failed);
    return Renamed(work, entry);
  }
  if (kind != EntryKind::File && kind != EntryKind::Folder) {
    return work.Skipped(entry, Step::RenameEntry, InTheWay(kind, SystemErrorKind::NotRegularFile));
  }
  if (const SystemError failed = RenameIn(entry.folder, oldName.c_str(), entry.name.c_str(), TakenName::Refuse)) {
    return work.Skipped(entry, Step::RenameEntry, failed);
  }
  return Renamed(work, entry);
}
