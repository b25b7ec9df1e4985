// Opening a listed file for a scan, and the report of one that cannot be read.
#include "tree/listed_file.h"

#include <string_view>
#include <vector>

#include "core/block.h"

FileHandle OpenListedFile(FolderCursor& cursor, const TreeListing& listing, uint32_t index, const ListedFileSteps& steps,
                          uint64_t* size, Step* failed) {
  *failed = steps.open;
  std::vector<std::string_view> folders;
  listing.FolderNames(index, &folders);
  FolderHandle folder = cursor.MoveTo(folders);
  if (folder == nullptr) return nullptr;
  const std::string name(listing.Name(index));
  FileHandle file = OpenFileIn(folder, name.c_str(), FileAccess::ReadOnly);
  if (file == nullptr) return nullptr;
  *failed = steps.size;
  if (GetFileSize64(file, size)) {
    if (*size <= kLargestExchangedSize) return file;
    SetLastSystemError(SystemErrorCode(SystemErrorKind::FileTooLarge));
  }
  const uint32_t error = LastSystemError();
  CloseFile(file);
  SetLastSystemError(error);
  return nullptr;
}

EntryReport UnreadableReport(std::string path, Step step, uint32_t systemError) {
  EntryReport report;
  report.path = std::move(path);
  report.skip = systemError == SystemErrorCode(SystemErrorKind::IsLink) ? EntrySkip::Link : EntrySkip::Unreadable;
  report.step = step;
  report.systemError = systemError;
  if (IsHeldByAnotherProgram(systemError)) report.holder = LastFileHolder();
  return report;
}
