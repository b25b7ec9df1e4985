// Opening a listed file for a scan, and the report of one that cannot be read.
#include "tree/listed_file.h"

#include <string_view>
#include <vector>

#include "core/block.h"

SystemError OpenListedFile(FolderCursor& cursor, const TreeListing& listing, uint32_t index, const ListedFileSteps& steps,
                           File* file, uint64_t* size, Step* failedAt) {
  *failedAt = steps.open;
  std::vector<std::string_view> folders;
  listing.FolderNames(index, &folders);
  const FolderHandle* folder;
  if (const SystemError failed = cursor.MoveTo(folders, &folder)) return failed;
  const std::string name(listing.Name(index));
  File opened;
  bool sizeFailed;
  if (const SystemError failed = OpenFileInWithSize(*folder, name.c_str(), &opened, size, &sizeFailed)) {
    if (sizeFailed) *failedAt = steps.size;
    return failed;
  }
  *failedAt = steps.size;
  if (*size > kLargestExchangedSize) return ErrorOf(SystemErrorKind::FileTooLarge);
  *file = std::move(opened);
  return SystemError{};
}

EntryReport UnreadableReport(std::string path, Step step, SystemError failed) {
  EntryReport report;
  report.path = std::move(path);
  report.skip = failed.Is(SystemErrorKind::IsLink) ? EntrySkip::Link : EntrySkip::Unreadable;
  report.step = step;
  report.systemError = failed.code;
  if (failed.holder != nullptr) report.holder = failed.holder;
  return report;
}
