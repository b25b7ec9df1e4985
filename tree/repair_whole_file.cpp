// The whole-file records of a folder repair: the file written under a temporary name, checked
// against its fingerprint, named once complete and flushed, and renamed to its own name. A file
// that stands there already is one an earlier run made, or one made since the scan; one an
// earlier run wrote whole but could not rename is taken as it is.
#include <algorithm>
#include <cstdint>

#include "tree/repair_entry.h"

namespace {

// A file that already stands at the name: an earlier run of this repair put it there when it
// matches the fingerprint, which is done; anything else was made since the scan and is kept.
Outcome Existing(RepairWork& work, const Entry& entry) {
  File file;
  if (const SystemError failed = OpenFileIn(entry.folder, entry.name.c_str(), FileAccess::ReadOnly, &file)) {
    return work.Skipped(entry, Step::OpenBroken, failed);
  }
  uint64_t size;
  bool matches = !GetFileSize64(file, &size) && size == entry.change.validSize;
  if (matches) {
    Fingerprinter fingerprint(size, work.regions);
    Outcome read = work.ReadFingerprint(file, size, &fingerprint);
    if (read.ending != Ending::Done) return read;
    matches = fingerprint.Whole() == entry.change.fingerprint;
  }
  file = File();
  work.Report(entry, matches ? EntryEvent::Verified : EntryEvent::Skipped, matches ? EntrySkip::None : EntrySkip::NotSeen);
  return DoneOutcome();
}

// Renames a kept file that holds exactly the valid file's bytes to its name; false when
// there is none.
bool TakeKept(RepairWork& work, const Entry& entry, std::vector<LeftTemporaries::Kept>& kept) {
  const PlannedChange& change = entry.change;
  for (auto candidate = kept.begin(); candidate != kept.end(); ++candidate) {
    if (candidate->size != change.validSize) continue;
    Fingerprinter fingerprint(change.validSize, work.regions);
    {
      File file;
      if (OpenFileIn(entry.folder, candidate->name.c_str(), FileAccess::ReadOnly, &file)) continue;
      if (work.ReadFingerprint(file, change.validSize, &fingerprint).ending != Ending::Done) continue;
    }
    if (fingerprint.Whole() != change.fingerprint ||
        RenameIn(entry.folder, candidate->name.c_str(), entry.name.c_str(), TakenName::Refuse)) {
      continue;
    }
    kept.erase(candidate);
    work.changed = true;
    ++work.result.files;
    work.Report(entry, EntryEvent::Created);
    return true;
  }
  return false;
}

}  // namespace

Outcome RepairWholeFile(RepairWork& work, const Entry& entry, std::vector<LeftTemporaries::Kept>& kept) {
  const PlannedChange& change = entry.change;
  EntryKind kind;
  bool present;
  if (const SystemError failed = KindAt(entry.folder, entry.name, &kind, &present)) {
    return work.Skipped(entry, Step::CreateOutput, failed);
  }
  if (present && kind == EntryKind::File) return Existing(work, entry);
  if (present) {
    return work.Skipped(entry, Step::CreateOutput,
                        InTheWay(kind, kind == EntryKind::Folder ? SystemErrorKind::IsFolder : SystemErrorKind::NotRegularFile));
  }
  if (TakeKept(work, entry, kept)) return DoneOutcome();
  TemporaryIn made(entry.folder);
  const uint32_t permissions = change.stamped ? change.stamp.permissions : kNoPermissions;
  if (const SystemError failed = made.Create(entry.name, permissions)) return work.Skipped(entry, Step::CreateOutput, failed);
  Fingerprinter fingerprint(change.validSize, work.regions);
  for (uint64_t done = 0; done < change.validSize;) {
    if (work.progress.StopRequested()) return work.Cancelled();
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(change.validSize - done, kStreamBufferBytes));
    if (const SystemError failed = ReadAt(work.repairFile, change.dataAt + done, work.slice, count)) {
      return Stopped(Step::ReadRepair, failed);
    }
    fingerprint.Add(work.slice, count);
    if (const SystemError failed = WriteAt(made.file, done, work.slice, count)) return Stopped(Step::WriteRepaired, failed);
    done += count;
    work.progress.Advance(count);
  }
  // Bytes damaged on the way never take the file's name: the temporary goes, and the
  // follow-up asks for the file whole.
  if (fingerprint.Whole() != change.fingerprint) {
    work.differing.push_back(DifferingFile{std::string(work.plan.Path(entry.index)), change.validSize, {}});
    work.Report(entry, EntryEvent::Mismatch);
    return DoneOutcome();
  }
  // The valid file's time, after the last write: a file whose time cannot be set is not
  // named, and the temporary goes.
  if (change.stamped) {
    if (const SystemError failed = SetModificationTime(made.file, change.stamp)) {
      return work.Skipped(entry, Step::SetFileStamp, failed);
    }
  }
  // Named only once complete and flushed, so that a run that dies leaves nothing behind; the
  // first failure is the one told, and the file is closed either way.
  SystemError failed = made.Name();
  const SystemError closed = made.Close();
  if (!failed) failed = closed;
  if (failed) return Stopped(Step::WriteRepaired, failed);
  // Whatever has taken the name since the look above is not replaced either.
  if ((failed = RenameIn(entry.folder, made.name(), entry.name.c_str(), TakenName::Refuse))) {
    work.Skipped(entry, Step::RenameEntry, failed);
    // Held by another program (a virus scanner reading the new file): kept whole and
    // checked, for the next run to rename without writing it again.
    if (IsHeldByAnotherProgram(failed.code)) {
      work.result.entries.back().kept = made.name();
      made.Keep();
      work.changed = true;
    }
    return DoneOutcome();
  }
  made.Keep();
  work.changed = true;
  ++work.result.files;
  work.Report(entry, EntryEvent::Created);
  return DoneOutcome();
}
