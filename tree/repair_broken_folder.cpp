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
#include <set>
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
#include "stream/origin_check.h"
#include "stream/steps.h"
#include "tree/file_reader.h"
#include "tree/folder_cursor.h"
#include "tree/folder_file.h"
#include "tree/folder_follow_up.h"
#include "tree/names.h"
#include "tree/operations.h"
#include "tree/repair_plan.h"

namespace {

// What one call holds; null until obtained.
struct FolderRepair {
  FolderHandle top = nullptr;
  FolderFile repairFile;
  FileHandle file = nullptr;
  FileHandle copy = nullptr;   // a file with other names: the copy that stands in for it
  uint8_t* slice = nullptr;
  uint8_t* brokenSlice = nullptr;  // the file's blocks a checked patch's record names
  Hash128* regions = nullptr;  // room for the region hashes of the file under way
};

void Release(FolderRepair& repair) {
  if (repair.file != nullptr) CloseFile(repair.file);
  if (repair.copy != nullptr) CloseFile(repair.copy);
  CloseFolderFile(&repair.repairFile);
  if (repair.top != nullptr) CloseFolder(repair.top);
  if (repair.slice != nullptr) ReleaseMemory(repair.slice);
  if (repair.brokenSlice != nullptr) ReleaseMemory(repair.brokenSlice);
  if (repair.regions != nullptr) ReleaseMemory(repair.regions);
}


bool Is(uint32_t error, SystemErrorKind kind) { return error == SystemErrorCode(kind); }
bool IsMissing(uint32_t error) { return Is(error, SystemErrorKind::FileNotFound) || Is(error, SystemErrorKind::PathNotFound); }

// A file made as a temporary in the folder being repaired: closed, and removed when it has a
// name by then, unless it was renamed. Until it is named the system removes it itself.
struct Temporary {
  explicit Temporary(FileHandle* file) : file(file) {}
  ~Temporary() {
    if (folder == nullptr) return;
    const uint32_t error = LastSystemError();
    if (*file != nullptr) {
      named = named || TemporaryHasName(*file);
      CloseFile(*file);
    }
    *file = nullptr;
    if (named) RemoveFileIn(folder, name);
    SetLastSystemError(error);
  }
  FileHandle* file;
  FolderHandle folder = nullptr;
  bool named = false;
  char name[kTemporaryNameRoom] = {};  // a name of its own in the same folder
};

class Applier {
 public:
  Applier(FolderRepair& repair, const RepairPlan& plan, const NameRules& rules, const FolderRepairOptions& options,
          Progress& progress, TreeOutcome& result)
      : repair_(repair), plan_(plan), rules_(rules), options_(options), progress_(progress), result_(result),
        cursor_(repair.top) {}

  Outcome All() {
    try {
      for (size_t i = 0; i < plan_.changes.size(); ++i) {
        if (plan_.changes[i].action == FolderAction::WholeFile) wholeSizes_[std::string(FolderKey(i))].push_back(plan_.changes[i].validSize);
      }
      Sweep(repair_.top, "");
    } catch (const std::bad_alloc&) {
      return StoppedOutcome(Step::AllocateRepairEntry, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
    }
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
  // The files that still differ from their fingerprints, for the follow-up.
  const std::vector<DifferingFile>& differing() const { return differing_; }

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

  // The path of change i's folder, as the plan writes it; empty for the top.
  std::string_view FolderKey(size_t i) const {
    const std::string_view full = plan_.Path(i);
    const size_t slash = full.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : full.substr(0, slash);
  }

  // Removes what earlier runs that died left in a folder, once per folder the repair enters;
  // a sweep that cannot be made leaves them for a later run. A temporary of the size of a file
  // this repair makes whole in the folder may be one an earlier run wrote and kept for its
  // rename: it is spared, for TakeKept to check by the fingerprint and rename.
  void Sweep(FolderHandle folder, std::string_view key) {
    if (!swept_.insert(std::string(key)).second) return;
    const auto spared = wholeSizes_.find(key);
    const std::vector<uint64_t> none;
    const std::vector<uint64_t>& sizes = spared == wholeSizes_.end() ? none : spared->second;
    uint32_t removed = 0;
    RemoveStaleTemporariesIn(folder, sizes.data(), sizes.size(), &removed);
  }

  Outcome Change(size_t i) {
    const PlannedChange& change = plan_.changes[i];
    TreePath path;
    ParseTreePath(plan_.Path(i), rules_, &path);
    const std::string name(path.components.back());
    path.components.pop_back();
    FolderHandle folder = cursor_.MoveTo(path.components);
    const bool extra = change.action == FolderAction::ExtraFile || change.action == FolderAction::ExtraFolder;
    // An extra entry whose folder is gone went with it: an earlier run deleted them.
    if (folder == nullptr && extra && IsMissing(LastSystemError())) return DoneOutcome();
    if (folder == nullptr) return Skipped(i, Step::OpenBrokenFolder, LastSystemError());
    Sweep(folder, FolderKey(i));
    switch (change.action) {
      case FolderAction::ExtraFile:
      case FolderAction::ExtraFolder: return ExtraEntry(i, folder, name);
      case FolderAction::CreateFolder: return NewFolder(i, folder, name);
      case FolderAction::Rename: return Rename(i, folder, name);
      case FolderAction::Patch:
      case FolderAction::CheckedPatch: return Patch(i, folder, name);
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
      // Made by an earlier run of the same repair, or since the scan: either way nothing in it
      // is replaced, and what goes into it is checked by its own records.
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
      // Renamed by an earlier run, or left by one that died half way under the middle name of
      // its own that a rename of case alone goes through (platform/temporary_name.h), or gone.
      if (!KindAt(folder, name, &kind, &present)) return Skipped(i, Step::RenameEntry, LastSystemError());
      if (present) return DoneOutcome();
      char middle[kTemporaryNameRoom];
      ComposeMiddleName(name.c_str(), middle, sizeof middle);
      if (!KindAt(folder, middle, &kind, &present) || !present) return Skipped(i, Step::RenameEntry, LastSystemError());
      if (!RenameIn(folder, middle, name.c_str(), TakenName::Refuse)) return Skipped(i, Step::RenameEntry, LastSystemError());
      changed_ = true;
      Report(i, EntryEvent::Renamed);
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

  // Reads the file back from its start (size bytes) and takes its fingerprint, regions too.
  Outcome ReadFingerprint(FileHandle file, uint64_t size, Fingerprinter* fingerprint) {
    for (uint64_t done = 0; done < size;) {
      const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size - done, kStreamBufferBytes));
      if (!ReadAt(file, done, repair_.slice, count)) return StoppedAt(Step::ReadBroken);
      fingerprint->Add(repair_.slice, count);
      done += count;
    }
    return DoneOutcome();
  }

  // The regions of a file that still differ: those whose fingerprint is not the valid file's
  // (a checked patch carries them; otherwise, or for a file of one region, all of them).
  Outcome DifferingRegions(const PlannedChange& change, const Fingerprinter& fingerprint, std::vector<uint32_t>* regions) {
    const uint64_t count = FingerprintRegionCount(change.validSize);
    const CheckedPatch* checked = change.checked != kNoCheckedPatch ? &plan_.checked[change.checked] : nullptr;
    for (uint64_t r = 0; r < count; ++r) {
      if (checked != nullptr && checked->regionsAt != 0) {
        uint8_t stored[kHash128Bytes];
        if (!ReadAt(repair_.repairFile.file, checked->regionsAt + kHash128Bytes * r, stored, sizeof stored)) {
          return StoppedAt(Step::ReadRepair);
        }
        if (LoadHash128(stored) == fingerprint.Regions()[r]) continue;
      }
      regions->push_back(static_cast<uint32_t>(r));
    }
    return DoneOutcome();
  }

  // A checked patch's record against the file, before anything is written to it: *fits, or
  // why not.
  Outcome CheckRecord(const PlannedChange& change, FileHandle file, bool* fits, CheckRefusal* why) {
    const CheckedPatch& checked = plan_.checked[change.checked];
    uint64_t size;
    if (!GetFileSize64(file, &size)) return StoppedAt(Step::SizeBroken);
    std::vector<uint32_t> list(change.blockCount), values(change.blockCount);
    uint8_t samples[kMostSampledBlocks * kOriginSampleBytes];
    if (!ReadValues(change.blockNumbersAt, &list) || !ReadValues(checked.valuesAt, &values) ||
        (checked.origin.samples > 0 &&
         !ReadAt(repair_.repairFile.file, checked.samplesAt, samples, kOriginSampleBytes * checked.origin.samples))) {
      return StoppedAt(Step::ReadRepair);
    }
    const CarriedBlocks carried{repair_.repairFile.file, change.dataAt, change.validSize, &list, &values, samples};
    Outcome result = CheckOrigin(file, size, carried, checked.origin, repair_.brokenSlice, repair_.slice);
    *fits = result.ending == Ending::Done;
    if (result.ending != Ending::OtherFile) return result;
    *why = result.check;
    return DoneOutcome();
  }

  // u32 numbers from the repair file at at, as many as values holds.
  int ReadValues(uint64_t at, std::vector<uint32_t>* values) {
    for (size_t j = 0; j < values->size();) {
      const uint32_t run = static_cast<uint32_t>(std::min<size_t>(values->size() - j, kStreamBufferBytes / 4));
      if (!ReadAt(repair_.repairFile.file, at + 4 * uint64_t{j}, repair_.slice, 4 * run)) return 0;
      for (uint32_t k = 0; k < run; ++k) (*values)[j + k] = LoadU32LE(repair_.slice + 4 * uint64_t{k});
      j += run;
    }
    return 1;
  }

  // Copies the file's bytes (size) into the copy that is to stand in for it.
  Outcome CopyBytes(FileHandle from, FileHandle to, uint64_t size) {
    for (uint64_t done = 0; done < size;) {
      if (progress_.StopRequested()) return CancelledOutcome(changed_);
      const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size - done, kStreamBufferBytes));
      if (!ReadAt(from, done, repair_.slice, count)) return StoppedAt(Step::ReadBroken);
      if (!WriteAt(to, done, repair_.slice, count)) return StoppedAt(Step::WriteRepaired);
      done += count;
    }
    return DoneOutcome();
  }

  // Puts the patch's blocks in place in file and gives it the valid size.
  Outcome PutBlocks(const PlannedChange& change, FileHandle file) {
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
        if (!WriteAt(file, uint64_t{number - 1} * kBlockSize, repair_.slice + uint64_t{k} * kBlockSize,
                     BlockBytesInFile(number, change.validSize))) {
          return StoppedAt(Step::WriteRepaired);
        }
      }
      j += run;
      progress_.Advance(uint64_t{run} * kBlockSize);
    }
    changed_ = true;
    if (!SetFileLength(file, change.validSize) || !FlushFile(file)) return StoppedAt(Step::WriteRepaired);
    return DoneOutcome();
  }

  // A file with other names is repaired in a copy beside it, which takes its attributes and
  // then its name, so that its other names keep what they had.
  Outcome PatchThroughCopy(size_t i, FolderHandle folder, const std::string& name, bool* renamed) {
    const PlannedChange& change = plan_.changes[i];
    uint64_t size;
    if (!GetFileSize64(repair_.file, &size)) return StoppedAt(Step::SizeBroken);
    Temporary temporary(&repair_.copy);
    repair_.copy = CreateTemporaryIn(folder, name.c_str(), temporary.name, sizeof temporary.name);
    if (repair_.copy == nullptr) return Skipped(i, Step::CreateOutput, LastSystemError());
    temporary.folder = folder;
    Outcome done = CopyBytes(repair_.file, repair_.copy, std::min(size, change.validSize));
    if (done.ending == Ending::Done) done = PutBlocks(change, repair_.copy);
    if (done.ending != Ending::Done) return done;
    if (!CopyFileAttributes(repair_.file, repair_.copy)) return StoppedAt(Step::KeepFileAttributes);
    if (!FlushFile(repair_.copy) || !NameTemporaryIn(folder, repair_.copy, temporary.name, sizeof temporary.name)) {
      return StoppedAt(Step::WriteRepaired);
    }
    temporary.named = true;
    const int closed = CloseFile(repair_.file);
    repair_.file = nullptr;
    if (!closed) return StoppedAt(Step::WriteRepaired);
    if (!RenameIn(folder, temporary.name, name.c_str(), TakenName::Replace)) return Skipped(i, Step::RenameEntry, LastSystemError());
    temporary.folder = nullptr;
    // The copy is the file now: read back below like any other.
    repair_.file = repair_.copy;
    repair_.copy = nullptr;
    *renamed = true;
    return DoneOutcome();
  }

  Outcome Patch(size_t i, FolderHandle folder, const std::string& name) {
    const PlannedChange& change = plan_.changes[i];
    // The kind first: a device, a pipe or a socket is never opened, let alone for writing.
    EntryKind kind;
    bool present;
    if (!KindAt(folder, name, &kind, &present)) return Skipped(i, Step::OpenBroken, LastSystemError());
    if (!present) return Skipped(i, Step::OpenBroken, SystemErrorCode(SystemErrorKind::FileNotFound));
    if (kind != EntryKind::File) {
      const SystemErrorKind why = kind == EntryKind::Folder ? SystemErrorKind::IsFolder : SystemErrorKind::NotRegularFile;
      if (kind == EntryKind::Other) {
        Report(i, EntryEvent::Skipped, EntrySkip::NotRegular);
        return DoneOutcome();
      }
      return Skipped(i, Step::OpenBroken, InTheWay(kind, why));
    }
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
    if (change.checked != kNoCheckedPatch) {
      bool fits = false;
      CheckRefusal why;
      Outcome checked = CheckRecord(change, repair_.file, &fits, &why);
      if (checked.ending != Ending::Done) return checked;
      if (!fits) {
        CloseFile(repair_.file);
        repair_.file = nullptr;
        Report(i, EntryEvent::Skipped, EntrySkip::OtherFile).check = why;
        return DoneOutcome();
      }
    }
    bool throughCopy = false;
    if (!proof) {
      uint32_t links = 1;
      if (!GetFileLinkCount(repair_.file, &links)) return StoppedAt(Step::SizeBroken);
      if (links > 1) {
        const size_t reported = result_.entries.size();
        Outcome copied = PatchThroughCopy(i, folder, name, &throughCopy);
        if (copied.ending != Ending::Done || result_.entries.size() != reported) return copied;
      } else {
        Outcome put = PutBlocks(change, repair_.file);
        if (put.ending != Ending::Done) return put;
      }
    }
    Fingerprinter fingerprint(change.validSize, repair_.regions);
    Outcome read = ReadFingerprint(repair_.file, change.validSize, &fingerprint);
    if (read.ending != Ending::Done) return read;
    const bool matches = fingerprint.Whole() == change.fingerprint;
    if (!matches) {
      DifferingFile file{std::string(plan_.Path(i)), change.validSize, {}};
      Outcome regions = DifferingRegions(change, fingerprint, &file.regions);
      if (regions.ending != Ending::Done) return regions;
      differing_.push_back(std::move(file));
    }
    const int closed = CloseFile(repair_.file);
    repair_.file = nullptr;
    if (!closed) return StoppedAt(Step::WriteRepaired);
    if (!proof) ++result_.files;
    EntryReport& report = Report(i, !matches ? EntryEvent::Mismatch : proof ? EntryEvent::Verified : EntryEvent::Repaired);
    report.blocks = change.blockCount;
    report.throughCopy = throughCopy;
    return DoneOutcome();
  }

  // A file that already stands at the name: an earlier run of this repair put it there when it
  // matches the fingerprint, which is done; anything else was made since the scan and is kept.
  Outcome Existing(size_t i, FolderHandle folder, const std::string& name) {
    const PlannedChange& change = plan_.changes[i];
    repair_.file = OpenFileIn(folder, name.c_str(), FileAccess::ReadOnly);
    if (repair_.file == nullptr) return Skipped(i, Step::OpenBroken, LastSystemError());
    uint64_t size;
    bool matches = GetFileSize64(repair_.file, &size) && size == change.validSize;
    if (matches) {
      Fingerprinter fingerprint(size, repair_.regions);
      Outcome read = ReadFingerprint(repair_.file, size, &fingerprint);
      if (read.ending != Ending::Done) return read;
      matches = fingerprint.Whole() == change.fingerprint;
    }
    CloseFile(repair_.file);
    repair_.file = nullptr;
    Report(i, matches ? EntryEvent::Verified : EntryEvent::Skipped, matches ? EntrySkip::None : EntrySkip::NotSeen);
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
      Fingerprinter fingerprint(change.validSize, repair_.regions);
      const Outcome read = ReadFingerprint(repair_.file, change.validSize, &fingerprint);
      CloseFile(repair_.file);
      repair_.file = nullptr;
      if (read.ending != Ending::Done || fingerprint.Whole() != change.fingerprint || !RenameIn(folder, candidate->name.c_str(), name.c_str(), TakenName::Refuse)) continue;
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
    if (present && kind == EntryKind::File) return Existing(i, folder, name);
    if (present) {
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
    // Bytes damaged on the way never take the file's name: the temporary goes, and the
    // follow-up asks for the file whole.
    if (fingerprint.Whole() != change.fingerprint) {
      differing_.push_back(DifferingFile{std::string(plan_.Path(i)), change.validSize, {}});
      Report(i, EntryEvent::Mismatch);
      return DoneOutcome();
    }
    // Named only once complete and flushed, so that a run that dies leaves nothing behind.
    const int named = FlushFile(repair_.file) && NameTemporaryIn(folder, repair_.file, temporary.name, sizeof temporary.name);
    uint32_t error = LastSystemError();
    temporary.named = named != 0;
    const int closed = CloseFile(repair_.file);
    repair_.file = nullptr;
    if (named && !closed) error = LastSystemError();
    if (!named || !closed) return StoppedOutcome(Step::WriteRepaired, error);
    // Whatever has taken the name since the look above is not replaced either.
    if (!RenameIn(folder, temporary.name, name.c_str(), TakenName::Refuse)) {
      error = LastSystemError();
      Skipped(i, Step::RenameEntry, error);
      // Held by another program (a virus scanner reading the new file): kept whole and
      // checked, for the next run to rename without writing it again.
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
  std::set<std::string> swept_;
  std::map<std::string, std::vector<uint64_t>, std::less<>> wholeSizes_;  // by FolderKey
  std::vector<DifferingFile> differing_;
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
  if (!plan.checked.empty()) {
    repair.brokenSlice = static_cast<uint8_t*>(CommitMemory(kStreamBufferBytes));
    if (repair.brokenSlice == nullptr) return StoppedAt(Step::CommitBrokenBuffer);
  }

  uint64_t total = 0;
  for (const PlannedChange& change : plan.changes) {
    if (change.action == FolderAction::Patch || change.action == FolderAction::CheckedPatch) {
      total += uint64_t{change.blockCount} * kBlockSize;
    }
    if (change.action == FolderAction::WholeFile) total += change.validSize;
  }
  Progress progress(control, total);
  Applier applier(repair, plan, rules, options, progress, result);
  Outcome applied = applier.All();
  if (applied.ending != Ending::Done || applier.differing().empty()) return applied;
  // Files that still differ: the follow-up that brings exactly their differing blocks.
  Outcome followUp = WriteFolderFollowUp(repair.top, brokenFolderPath, options.followUpFolder, applier.differing(),
                                         repair.slice, progress);
  followUp.brokenFileChanged = applier.changed();
  return followUp;
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
