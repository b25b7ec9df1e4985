// The repair of a folder. The whole repair file, every name in it included, is checked
// before the folder is even opened; then its records are applied in order, each in the
// folder its path names, reached one name at a time without following a link. A damaged
// file gets only its carried blocks and its length, then is read back against its
// fingerprint; a missing file is written under a temporary name and renamed once complete
// and checked. Every change can be made again, so a repair cut short is finished by
// running it again. Entries that are not as the repair file expects are told and left. A
// new file whose rename another program holds up stays whole under its temporary name, and
// the next run renames it instead of writing it again.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"
#include "core/folder_repair_file.h"
#include "core/folder_test_file.h"
#include "platform/temporary_name.h"
#include "stream/steps.h"
#include "tree/file_reader.h"
#include "tree/folder_cursor.h"
#include "tree/folder_file.h"
#include "tree/names.h"
#include "tree/operations.h"
#include "tree/repair_plan.h"

namespace {

// What one call holds; null until obtained.
struct FolderRepair {
  FolderHandle top = nullptr;
  FolderFile repairFile;
  FileHandle file = nullptr;
  uint8_t* slice = nullptr;
  Hash128* regions = nullptr;  // room for the region hashes of the file under way
};

void Release(FolderRepair& repair) {
  if (repair.file != nullptr) CloseFile(repair.file);
  CloseFolderFile(&repair.repairFile);
  if (repair.top != nullptr) CloseFolder(repair.top);
  if (repair.slice != nullptr) ReleaseMemory(repair.slice);
  if (repair.regions != nullptr) ReleaseMemory(repair.regions);
}


bool Is(uint32_t error, SystemErrorKind kind) { return error == SystemErrorCode(kind); }
bool IsMissing(uint32_t error) { return Is(error, SystemErrorKind::FileNotFound) || Is(error, SystemErrorKind::PathNotFound); }

// A file under a temporary name in the folder being repaired: closed and removed unless it
// was renamed.
struct Temporary {
  explicit Temporary(FileHandle* file) : file(file) {}
  ~Temporary() {
    if (folder == nullptr) return;
    const uint32_t error = LastSystemError();
    if (*file != nullptr) CloseFile(*file);
    *file = nullptr;
    RemoveFileIn(folder, name);
    SetLastSystemError(error);
  }
  FileHandle* file;
  FolderHandle folder = nullptr;
  char name[kTemporaryNameRoom] = {};  // a name of its own in the same folder
};

class Applier {
 public:
  Applier(FolderRepair& repair, const RepairPlan& plan, const NameRules& rules, const FolderRepairOptions& options,
          Progress& progress, TreeOutcome& result)
      : repair_(repair), plan_(plan), rules_(rules), options_(options), progress_(progress), result_(result),
        cursor_(repair.top) {}

  Outcome All() {
    for (size_t i = 0; i < plan_.changes.size(); ++i) {
      if (progress_.StopRequested()) return CancelledOutcome(changed_);
      Outcome applied;
      try {
        applied = Change(i);
      } catch (const std::bad_alloc&) {
        applied = StoppedOutcome(Step::AllocateRepairEntry, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
      }
      if (applied.ending != Ending::Done) {
        applied.brokenFileChanged = changed_;
        if (applied.ending == Ending::Stopped) result_.stoppedAt = std::string(plan_.Path(i));
        return applied;
      }
    }
    cursor_.Close();
    // A stop that ended the wait for the last entry, held by another program, is a stop too.
    if (progress_.StopRequested()) return CancelledOutcome(changed_);
    return DoneOutcome();
  }

  bool changed() const { return changed_; }

 private:
  EntryReport& Report(size_t i, EntryEvent event, EntrySkip skip = EntrySkip::None) {
    EntryReport report;
    report.path = std::string(plan_.Path(i));
    report.event = event;
    report.skip = skip;
    const FolderAction action = plan_.changes[i].action;
    report.folder = action == FolderAction::CreateFolder || action == FolderAction::ExtraFolder;
    result_.entries.push_back(std::move(report));
    return result_.entries.back();
  }

  // An entry that could not be changed for a system's reason, or because of what stands there:
  // told as skipped, and the repair goes on.
  Outcome Skipped(size_t i, Step step, uint32_t error) {
    EntrySkip skip = EntrySkip::Unreadable;
    if (Is(error, SystemErrorKind::IsLink)) skip = EntrySkip::Link;
    if (IsMissing(error)) skip = EntrySkip::Gone;
    if (Is(error, SystemErrorKind::IsFolder) || Is(error, SystemErrorKind::NotRegularFile) ||
        Is(error, SystemErrorKind::AlreadyExists) || Is(error, SystemErrorKind::NotFolder)) {
      skip = EntrySkip::NameTaken;
    }
    if (Is(error, SystemErrorKind::NotEmpty)) skip = EntrySkip::NotEmpty;
    if (Is(error, SystemErrorKind::ShortNameOfOther)) skip = EntrySkip::ShortName;
    EntryReport& report = Report(i, EntryEvent::Skipped, skip);
    report.step = step;
    report.systemError = error;
    if (IsHeldByAnotherProgram(error)) report.holder = LastFileHolder();
    return DoneOutcome();
  }

  Outcome Change(size_t i) {
    const PlannedChange& change = plan_.changes[i];
    TreePath path;
    ParseTreePath(plan_.Path(i), rules_, &path);
    const std::string name(path.components.back());
    path.components.pop_back();
    FolderHandle folder = cursor_.MoveTo(path.components);
    if (folder == nullptr) return Skipped(i, Step::OpenBrokenFolder, LastSystemError());
    switch (change.action) {
      case FolderAction::ExtraFile:
      case FolderAction::ExtraFolder: return ExtraEntry(i, folder, name);
      case FolderAction::CreateFolder: return NewFolder(i, folder, name);
      case FolderAction::Rename: return Rename(i, folder, name);
      case FolderAction::Patch: return Patch(i, folder, name);
      case FolderAction::WholeFile: return Whole(i, folder, name, KeptIn(folder, path.components));
    }
    return DoneOutcome();
  }

  // The error told for an entry of this kind standing where another is wanted: a link is
  // told as one, anything else as otherwise.
  static uint32_t InTheWay(EntryKind kind, SystemErrorKind otherwise) {
    return SystemErrorCode(kind == EntryKind::Link ? SystemErrorKind::IsLink : otherwise);
  }

  // Whether something stands at the name, and what; false with the error when it cannot be told.
  static int KindAt(FolderHandle folder, const std::string& name, EntryKind* kind, bool* present) {
    *present = GetEntryKind(folder, name.c_str(), kind) != 0;
    return *present || IsMissing(LastSystemError());
  }

  Outcome ExtraEntry(size_t i, FolderHandle folder, const std::string& name) {
    const bool isFolder = plan_.changes[i].action == FolderAction::ExtraFolder;
    EntryKind kind;
    bool present;
    if (!KindAt(folder, name, &kind, &present)) return Skipped(i, Step::RemoveExtra, LastSystemError());
    if (!present) return DoneOutcome();
    if (kind != (isFolder ? EntryKind::Folder : EntryKind::File)) {
      return Skipped(i, Step::RemoveExtra, InTheWay(kind, SystemErrorKind::AlreadyExists));
    }
    if (!options_.deleteExtra) {
      Report(i, EntryEvent::Extra);
      return DoneOutcome();
    }
    if (!(isFolder ? RemoveFolderIn(folder, name.c_str()) : RemoveFileIn(folder, name.c_str()))) {
      return Skipped(i, Step::RemoveExtra, LastSystemError());
    }
    changed_ = true;
    Report(i, EntryEvent::Deleted);
    return DoneOutcome();
  }

  Outcome NewFolder(size_t i, FolderHandle folder, const std::string& name) {
    EntryKind kind;
    bool present;
    if (!KindAt(folder, name, &kind, &present)) return Skipped(i, Step::CreateFolder, LastSystemError());
    if (present) {
      // Made by an earlier run of the same repair.
      if (kind != EntryKind::Folder) return Skipped(i, Step::CreateFolder, InTheWay(kind, SystemErrorKind::AlreadyExists));
      return DoneOutcome();
    }
    if (!CreateSubfolder(folder, name.c_str())) return Skipped(i, Step::CreateFolder, LastSystemError());
    changed_ = true;
    ++result_.folders;
    Report(i, EntryEvent::FolderCreated);
    return DoneOutcome();
  }

  Outcome Rename(size_t i, FolderHandle folder, const std::string& name) {
    const std::string oldName(plan_.OldName(i));
    EntryKind kind;
    bool present;
    if (!KindAt(folder, oldName, &kind, &present)) return Skipped(i, Step::RenameEntry, LastSystemError());
    if (!present) {
      // Renamed by an earlier run, or gone.
      if (!KindAt(folder, name, &kind, &present) || !present) return Skipped(i, Step::RenameEntry, LastSystemError());
      return DoneOutcome();
    }
    if (kind != EntryKind::File && kind != EntryKind::Folder) {
      return Skipped(i, Step::RenameEntry, InTheWay(kind, SystemErrorKind::NotRegularFile));
    }
    if (!RenameIn(folder, oldName.c_str(), name.c_str(), TakenName::Refuse)) return Skipped(i, Step::RenameEntry, LastSystemError());
    changed_ = true;
    Report(i, EntryEvent::Renamed);
    return DoneOutcome();
  }

  // Reads the file back from its start and compares it with the fingerprint.
  Outcome MatchesFingerprint(FileHandle file, uint64_t size, const Hash128& expected, bool* matches) {
    Fingerprinter fingerprint(size, repair_.regions);
    for (uint64_t done = 0; done < size;) {
      const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size - done, kStreamBufferBytes));
      if (!ReadAt(file, done, repair_.slice, count)) return StoppedAt(Step::ReadBroken);
      fingerprint.Add(repair_.slice, count);
      done += count;
    }
    *matches = fingerprint.Whole() == expected;
    return DoneOutcome();
  }

  Outcome Patch(size_t i, FolderHandle folder, const std::string& name) {
    const PlannedChange& change = plan_.changes[i];
    // A patch without blocks of a file that already has its size is a proof, only read back;
    // such a file is opened for reading first, so that a read-only file can be proved too.
    bool proof = change.blockCount == 0;
    repair_.file = OpenFileIn(folder, name.c_str(), proof ? FileAccess::ReadOnly : FileAccess::ReadWrite);
    if (repair_.file == nullptr) return Skipped(i, Step::OpenBroken, LastSystemError());
    uint64_t size = 0;
    if (proof && !GetFileSize64(repair_.file, &size)) {
      const uint32_t error = LastSystemError();
      CloseFile(repair_.file);
      repair_.file = nullptr;
      return Skipped(i, Step::SizeBroken, error);
    }
    if (proof && size != change.validSize) {
      proof = false;
      CloseFile(repair_.file);
      repair_.file = OpenFileIn(folder, name.c_str(), FileAccess::ReadWrite);
      if (repair_.file == nullptr) return Skipped(i, Step::OpenBroken, LastSystemError());
    }
    uint8_t numbers[4 * 256];
    for (uint32_t j = 0; j < change.blockCount;) {
      if (progress_.StopRequested()) return CancelledOutcome(changed_);
      // As many blocks as the slice holds, and their numbers.
      static_assert(sizeof numbers / 4 == kStreamBufferBlocks);
      const uint32_t run = static_cast<uint32_t>(std::min<uint64_t>(change.blockCount - j, kStreamBufferBlocks));
      if (!ReadAt(repair_.repairFile.file, change.blockNumbersAt + 4 * uint64_t{j}, numbers, 4 * run) ||
          !ReadAt(repair_.repairFile.file, change.dataAt + uint64_t{j} * kBlockSize, repair_.slice, run * kBlockSize)) {
        return StoppedAt(Step::ReadRepair);
      }
      for (uint32_t k = 0; k < run; ++k) {
        const uint32_t number = LoadU32LE(numbers + 4 * k);
        changed_ = true;
        if (!WriteAt(repair_.file, uint64_t{number - 1} * kBlockSize, repair_.slice + uint64_t{k} * kBlockSize,
                     BlockBytesInFile(number, change.validSize))) {
          return StoppedAt(Step::WriteRepaired);
        }
      }
      j += run;
      progress_.Advance(uint64_t{run} * kBlockSize);
    }
    if (!proof) {
      changed_ = true;
      if (!SetFileLength(repair_.file, change.validSize) || !FlushFile(repair_.file)) return StoppedAt(Step::WriteRepaired);
    }
    bool matches = false;
    Outcome checked = MatchesFingerprint(repair_.file, change.validSize, change.fingerprint, &matches);
    if (checked.ending != Ending::Done) return checked;
    const int closed = CloseFile(repair_.file);
    repair_.file = nullptr;
    if (!closed) return StoppedAt(Step::WriteRepaired);
    if (!proof) ++result_.files;
    Report(i, !matches ? EntryEvent::Mismatch : proof ? EntryEvent::Verified : EntryEvent::Repaired).blocks = change.blockCount;
    return DoneOutcome();
  }

  // Files of a folder that an earlier run wrote whole but could not rename: temporaries by
  // their name and size, listed once per folder and run. A folder that cannot be listed has none.
  struct Kept {
    std::string name;
    uint64_t size;
  };
  std::vector<Kept>& KeptIn(FolderHandle folder, const std::vector<std::string_view>& components) {
    std::string key;
    for (const std::string_view component : components) (key += component) += '/';
    const auto found = kept_.find(key);
    if (found != kept_.end()) return found->second;
    std::vector<Kept>& kept = kept_[key];
    ListFolder(folder, [](void* context, const FolderEntry& entry) {
      if (entry.kind == EntryKind::File && IsTemporaryName(entry.name)) {
        static_cast<std::vector<Kept>*>(context)->push_back(Kept{entry.name, entry.size});
      }
      return 1;
    }, &kept);
    return kept;
  }

  // Renames a kept file that holds exactly the valid file's bytes to its name; false when
  // there is none.
  bool TakeKept(size_t i, FolderHandle folder, const std::string& name, std::vector<Kept>& kept) {
    const PlannedChange& change = plan_.changes[i];
    for (auto candidate = kept.begin(); candidate != kept.end(); ++candidate) {
      if (candidate->size != change.validSize) continue;
      repair_.file = OpenFileIn(folder, candidate->name.c_str(), FileAccess::ReadOnly);
      if (repair_.file == nullptr) continue;
      bool matches = false;
      const Outcome read = MatchesFingerprint(repair_.file, change.validSize, change.fingerprint, &matches);
      CloseFile(repair_.file);
      repair_.file = nullptr;
      if (read.ending != Ending::Done || !matches || !RenameIn(folder, candidate->name.c_str(), name.c_str(), TakenName::Replace)) continue;
      kept.erase(candidate);
      changed_ = true;
      ++result_.files;
      Report(i, EntryEvent::Created);
      return true;
    }
    return false;
  }

  Outcome Whole(size_t i, FolderHandle folder, const std::string& name, std::vector<Kept>& kept) {
    const PlannedChange& change = plan_.changes[i];
    EntryKind kind;
    bool present;
    if (!KindAt(folder, name, &kind, &present)) return Skipped(i, Step::CreateOutput, LastSystemError());
    if (present && kind != EntryKind::File) {
      return Skipped(i, Step::CreateOutput,
                     InTheWay(kind, kind == EntryKind::Folder ? SystemErrorKind::IsFolder : SystemErrorKind::NotRegularFile));
    }
    if (TakeKept(i, folder, name, kept)) return DoneOutcome();
    Temporary temporary(&repair_.file);
    repair_.file = CreateTemporaryIn(folder, name.c_str(), temporary.name, sizeof temporary.name);
    if (repair_.file == nullptr) return Skipped(i, Step::CreateOutput, LastSystemError());
    temporary.folder = folder;
    Fingerprinter fingerprint(change.validSize, repair_.regions);
    for (uint64_t done = 0; done < change.validSize;) {
      if (progress_.StopRequested()) return CancelledOutcome(changed_);
      const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(change.validSize - done, kStreamBufferBytes));
      if (!ReadAt(repair_.repairFile.file, change.dataAt + done, repair_.slice, count)) return StoppedAt(Step::ReadRepair);
      fingerprint.Add(repair_.slice, count);
      if (!WriteAt(repair_.file, done, repair_.slice, count)) return StoppedAt(Step::WriteRepaired);
      done += count;
      progress_.Advance(count);
    }
    const int flushed = FlushFile(repair_.file);
    uint32_t error = LastSystemError();
    const int closed = CloseFile(repair_.file);
    repair_.file = nullptr;
    if (flushed && !closed) error = LastSystemError();
    if (!flushed || !closed) return StoppedOutcome(Step::WriteRepaired, error);
    // Bytes damaged on the way never take the file's name.
    if (fingerprint.Whole() != change.fingerprint) {
      Report(i, EntryEvent::Mismatch);
      return DoneOutcome();
    }
    if (!RenameIn(folder, temporary.name, name.c_str(), TakenName::Replace)) {
      const uint32_t error = LastSystemError();
      Skipped(i, Step::RenameEntry, error);
      // Held by another program (a virus scanner reading the new file): kept whole and
      // checked, for the next run to rename.
      if (IsHeldByAnotherProgram(error)) {
        result_.entries.back().kept = temporary.name;
        temporary.folder = nullptr;
        changed_ = true;
      }
      return DoneOutcome();
    }
    temporary.folder = nullptr;
    changed_ = true;
    ++result_.files;
    Report(i, EntryEvent::Created);
    return DoneOutcome();
  }

  FolderRepair& repair_;
  const RepairPlan& plan_;
  const NameRules& rules_;
  const FolderRepairOptions& options_;
  Progress& progress_;
  TreeOutcome& result_;
  FolderCursor cursor_;
  bool changed_ = false;
  std::map<std::string, std::vector<Kept>> kept_;  // by the folder's path, '/' after each name
};

// Opens the repair file and reads its plan: refused when it is not a folder repair file or
// names anything this system must not write.
Outcome ReadRepairFile(FolderRepair& repair, const char* repairFilePath, const NameRules& rules, RepairPlan* plan,
                       TreeOutcome& result) {
  const FolderFileSteps steps{Step::OpenRepair, Step::SizeRepair, Step::CommitRepairBuffer,
                              Step::ReadRepair, Step::CheckRepairFileForOneFile, Step::CheckFolderRepairFile};
  Outcome opened = OpenFolderFile(repairFilePath, ExchangeFileKind::FolderRepairFile, steps, &repair.repairFile);
  if (opened.ending != Ending::Done) return opened;
  FolderRepairHeader header;
  if (ReadFolderRepairHeader(repair.repairFile.start, repair.repairFile.length, &header) != FolderFileVerdict::Read) {
    return Refused(Step::CheckFolderRepairFile);
  }
  FileReader reader = repair.repairFile.Records();
  Outcome read = ReadRepairPlan(reader, header, rules, plan, &result.stoppedAt, &result.nameFault);
  // The records are in the plan now; the blocks are read at their offsets.
  repair.repairFile.ReleaseBuffer();
  return read;
}

Outcome Repair(FolderRepair& repair, const char* brokenFolderPath, const char* repairFilePath,
               const FolderRepairOptions& options, const StreamControl& control, TreeOutcome& result) {
  const NameRules rules = SystemNameRules(std::strlen(brokenFolderPath));
  RepairPlan plan;
  Outcome read = ReadRepairFile(repair, repairFilePath, rules, &plan, result);
  if (read.ending != Ending::Done) return read;
  repair.top = OpenFolder(brokenFolderPath);
  if (repair.top == nullptr) return StoppedAt(Step::OpenBrokenFolder);
  repair.slice = static_cast<uint8_t*>(CommitMemory(kStreamBufferBytes));
  if (repair.slice == nullptr) return StoppedAt(Step::CommitBrokenBuffer);
  repair.regions = static_cast<Hash128*>(CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * kMostRegions)));
  if (repair.regions == nullptr) return StoppedAt(Step::AllocateReadBack);

  uint64_t total = 0;
  for (const PlannedChange& change : plan.changes) {
    if (change.action == FolderAction::Patch) total += uint64_t{change.blockCount} * kBlockSize;
    if (change.action == FolderAction::WholeFile) total += change.validSize;
  }
  Progress progress(control, total);
  Applier applier(repair, plan, rules, options, progress, result);
  return applier.All();
}

}  // namespace

TreeOutcome RepairBrokenFolder(const char* brokenFolderPath, const char* repairFilePath, const FolderRepairOptions& options,
                               const StreamControl& control) {
  FolderRepair repair;
  TreeOutcome result;
  const HeldFileWaits waits(control.stop);
  try {
    result.outcome = Repair(repair, brokenFolderPath, repairFilePath, options, control, result);
  } catch (const std::bad_alloc&) {
    // The plan catches its own; what is left is the memory of the entry under way.
    result.outcome = StoppedOutcome(Step::AllocateRepairEntry, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
  }
  Release(repair);
  return result;
}
