// What the units of a folder repair share: their reports, their look at an entry, their
// temporaries, and what earlier runs left.
#include "tree/repair_entry.h"

#include <algorithm>
#include <new>

#include "platform/temporary_name.h"

EntryReport& RepairWork::Report(size_t i, EntryEvent event, EntrySkip skip) {
  EntryReport report;
  report.path = std::string(plan.Path(i));
  report.event = event;
  report.skip = skip;
  const FolderAction action = plan.changes[i].action;
  report.folder = action == FolderAction::CreateFolder || action == FolderAction::ExtraFolder;
  result.entries.push_back(std::move(report));
  return result.entries.back();
}

Outcome RepairWork::Skipped(size_t i, Step step, SystemError failed) {
  EntrySkip skip = EntrySkip::Unreadable;
  if (failed.Is(SystemErrorKind::IsLink)) skip = EntrySkip::Link;
  if (IsMissing(failed)) skip = EntrySkip::Gone;
  if (failed.Is(SystemErrorKind::IsFolder) || failed.Is(SystemErrorKind::NotRegularFile) ||
      failed.Is(SystemErrorKind::AlreadyExists) || failed.Is(SystemErrorKind::NotFolder)) {
    skip = EntrySkip::NameTaken;
  }
  if (failed.Is(SystemErrorKind::NotEmpty)) skip = EntrySkip::NotEmpty;
  if (failed.Is(SystemErrorKind::ShortNameOfOther)) skip = EntrySkip::ShortName;
  EntryReport& report = Report(i, EntryEvent::Skipped, skip);
  report.step = step;
  report.systemError = failed.code;
  if (failed.holder != nullptr) report.holder = failed.holder;
  return DoneOutcome();
}

Outcome RepairWork::ReadFingerprint(const File& file, uint64_t size, Fingerprinter* fingerprint) {
  for (uint64_t done = 0; done < size;) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size - done, kStreamBufferBytes));
    if (const SystemError failed = ReadAt(file, done, slice, count)) return Stopped(Step::ReadBroken, failed);
    fingerprint->Add(slice, count);
    done += count;
  }
  return DoneOutcome();
}

SystemError RepairWork::KeepTime(const Entry& entry, const File& file, bool* set) {
  *set = false;
  if (!entry.change.stamped) return SystemError{};
  FileStamp now;
  if (const SystemError failed = GetFileStamp(file, &now)) return failed;
  if (TimesAgree(now, entry.change.stamp)) return SystemError{};
  if (const SystemError failed = SetModificationTime(file, entry.change.stamp)) return failed;
  changed = true;
  *set = true;
  return SystemError{};
}

bool IsMissing(SystemError failed) {
  return failed.Is(SystemErrorKind::FileNotFound) || failed.Is(SystemErrorKind::PathNotFound);
}

SystemError KindAt(const FolderHandle& folder, const std::string& name, EntryKind* kind, bool* present) {
  const SystemError failed = GetEntryKind(folder, name.c_str(), kind);
  *present = !failed;
  return IsMissing(failed) ? SystemError{} : failed;
}

SystemError InTheWay(EntryKind kind, SystemErrorKind otherwise) {
  return ErrorOf(kind == EntryKind::Link ? SystemErrorKind::IsLink : otherwise);
}

TemporaryIn::~TemporaryIn() {
  named_ = named_ || (file && TemporaryHasName(file));
  file = File();
  if (named_ && !kept_) static_cast<void>(RemoveFileIn(folder_, name_));
}

SystemError TemporaryIn::Create(const std::string& finalName, uint32_t permissions) {
  return CreateTemporaryIn(folder_, finalName.c_str(), permissions, name_, sizeof name_, &file);
}

SystemError TemporaryIn::Close() {
  named_ = named_ || TemporaryHasName(file);
  return file.Close();
}

SystemError TemporaryIn::Name() {
  if (const SystemError failed = FlushFile(file)) return failed;
  if (const SystemError failed = NameTemporaryIn(folder_, &file, name_, sizeof name_)) return failed;
  named_ = true;
  return SystemError{};
}

std::string_view FolderKey(const RepairPlan& plan, size_t i) {
  const std::string_view full = plan.Path(i);
  const size_t slash = full.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : full.substr(0, slash);
}

LeftTemporaries::LeftTemporaries(const RepairPlan& plan) {
  for (size_t i = 0; i < plan.changes.size(); ++i) {
    if (plan.changes[i].action == FolderAction::WholeFile) {
      wholeSizes_[std::string(FolderKey(plan, i))].push_back(plan.changes[i].validSize);
    }
  }
}

void LeftTemporaries::Sweep(const FolderHandle& folder, std::string_view key) {
  if (!swept_.insert(std::string(key)).second) return;
  const auto spared = wholeSizes_.find(key);
  const std::vector<uint64_t> none;
  const std::vector<uint64_t>& sizes = spared == wholeSizes_.end() ? none : spared->second;
  // A sweep that cannot be made leaves them for a later run.
  uint32_t removed = 0;
  static_cast<void>(RemoveStaleTemporariesIn(folder, sizes.data(), sizes.size(), &removed));
}

std::vector<LeftTemporaries::Kept>& LeftTemporaries::KeptIn(const FolderHandle& folder, std::string_view key) {
  const auto found = kept_.find(key);
  if (found != kept_.end()) return found->second;
  struct Listed {
    std::vector<Kept>& kept;
    bool outOfMemory = false;
  } listed{kept_[std::string(key)]};
  // Memory running out inside the system's listing must not leave it open: the listing ends
  // first.
  static_cast<void>(ListFolder(
      folder,
      [](void* context, const FolderEntry& entry) {
        auto* into = static_cast<Listed*>(context);
        if (entry.kind != EntryKind::File || !IsTemporaryName(entry.name)) return SystemError{};
        try {
          into->kept.push_back(Kept{entry.name, entry.size});
        } catch (const std::bad_alloc&) {
          into->outOfMemory = true;
          return ErrorOf(SystemErrorKind::NotEnoughMemory);
        }
        return SystemError{};
      },
      &listed));
  if (listed.outOfMemory) throw std::bad_alloc();
  return listed.kept;
}
