// Writing the folder follow-up test file.
#include "tree/folder_follow_up.h"

#include <algorithm>
#include <string_view>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/fingerprint.h"
#include "core/folder_follow_up.h"
#include "core/folder_test_file.h"
#include "core/test_file.h"
#include "stream/output_file.h"
#include "support/path_buffer.h"
#include "support/strip_last_component.h"
#include "tree/folder_cursor.h"

namespace {

// The region's block hashes, read from the file (size bytes) a slice at a time.
Outcome PutRegion(HashedOutput& w, const File& file, uint64_t size, uint32_t region, uint8_t* buffer) {
  const uint64_t regionSize = FingerprintRegionSize(size);
  uint8_t index[4];
  StoreU32LE(index, region);
  if (const SystemError failed = w.Put(index, sizeof index)) return Stopped(Step::WriteFollowUp, failed);
  const uint64_t start = uint64_t{region} * regionSize;
  uint8_t hashes[8 * kStreamBufferBlocks];
  for (uint64_t offset = start; offset < start + regionSize; offset += kStreamBufferBytes) {
    const uint64_t present = offset < size ? size - offset : 0;
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(present, kStreamBufferBytes));
    const uint32_t blocks = static_cast<uint32_t>(BlockCount64(count));
    if (const SystemError failed = ReadPadded(file, offset, buffer, count, blocks * kBlockSize)) {
      return Stopped(Step::ReadBack, failed);
    }
    std::fill(hashes, hashes + sizeof hashes, 0);
    // Blocks past the file's end have no bytes: their hashes stay 0.
    StoreBlockHashes(hashes, buffer, blocks);
    if (const SystemError failed = w.Put(hashes, sizeof hashes)) return Stopped(Step::WriteFollowUp, failed);
  }
  return DoneOutcome();
}

Outcome Write(HashedOutput& w, const FolderHandle& top, const char* brokenFolderPath, const char* followUpFolder,
              const std::vector<DifferingFile>& files, uint8_t* buffer, Progress& progress) {
  // Beside the broken folder unless the caller names a folder.
  char folder[kPathBufferSize] = {};
  if (const SystemError failed = PutPathIntoBuffer(folder, followUpFolder != nullptr ? followUpFolder : brokenFolderPath)) {
    return Stopped(Step::CreateFollowUp, failed);
  }
  if (followUpFolder == nullptr) {
    StripLastComponent(folder, kPathBufferSize);
    if (folder[0] == '\0') folder[0] = brokenFolderPath[0] == kPathSeparator ? kPathSeparator : '.';
  }
  if (const SystemError failed = CreateFolderOutput(&w.output, folder, brokenFolderPath, ".crc", top.waits())) {
    return Stopped(Step::CreateFollowUp, failed);
  }
  uint8_t record[kFolderFileHeaderBytes + 22 + kLongestFolderPath];
  if (const SystemError failed = w.Put(record, StoreFolderFollowUpHeader(record, files.size()))) {
    return Stopped(Step::WriteFollowUp, failed);
  }
  FolderCursor cursor(top);
  for (const DifferingFile& file : files) {
    if (progress.StopRequested()) return CancelledOutcome(true);
    const uint32_t regions = static_cast<uint32_t>(file.regions.size());
    const uint32_t start = StoreFolderFollowUpRecordStart(record, file.path, file.size, regions);
    if (const SystemError failed = w.Put(record, start)) {
      return Stopped(Step::WriteFollowUp, failed);
    }
    if (file.regions.empty()) continue;
    // The paths have passed the repair's checks of names already: '/' between them.
    std::vector<std::string_view> components;
    for (size_t from = 0; from <= file.path.size();) {
      const size_t slash = std::min(file.path.find('/', from), file.path.size());
      components.emplace_back(file.path.data() + from, slash - from);
      from = slash + 1;
    }
    const std::string name(components.back());
    components.pop_back();
    const FolderHandle* parent;
    if (const SystemError failed = cursor.MoveTo(components, &parent)) return Stopped(Step::ReadBack, failed);
    File opened;
    if (const SystemError failed = OpenFileIn(*parent, name.c_str(), FileAccess::ReadOnly, &opened)) {
      return Stopped(Step::ReadBack, failed);
    }
    for (const uint32_t region : file.regions) {
      Outcome put = PutRegion(w, opened, file.size, region, buffer);
      if (put.ending != Ending::Done) return put;
    }
  }
  uint8_t check[kHash128Bytes];
  StoreHash128(check, w.check.Digest());
  if (const SystemError failed = WriteAt(w.output.file, w.at, check, sizeof check)) return Stopped(Step::WriteFollowUp, failed);
  // A follow-up whose folder could not be flushed is still in place and is sent on as it is.
  if (const SystemError failed = CommitOutput(&w.output).failed) return Stopped(Step::WriteFollowUp, failed);
  Outcome done = DoneOutcome();
  done.followUpPath = w.output.finalPath;
  done.followUpBytes = w.at + sizeof check;
  return done;
}

}  // namespace

Outcome WriteFolderFollowUp(const FolderHandle& top, const char* brokenFolderPath, const char* followUpFolder,
                            const std::vector<DifferingFile>& files, uint8_t* buffer, Progress& progress) {
  HashedOutput w;
  return Write(w, top, brokenFolderPath, followUpFolder, files, buffer, progress);
}
