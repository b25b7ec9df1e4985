// Reading and writing the follow-up test file a record at a time.
#include "stream/follow_up.h"

#include <cstring>

#include "core/byte_order.h"
#include "core/fingerprint.h"
#include "stream/output_file.h"

FollowUpReader::FollowUpReader(FileHandle file, const FollowUpLayout& layout, const uint8_t* header, uint8_t* record,
                               uint32_t* listed)
    : file_(file), layout_(layout), record_(record), listed_(listed) {
  check_.Add(header, kFollowUpHeaderBytes);
}

Outcome FollowUpReader::Expect(Slice& slice) {
  const uint64_t region = slice.offset / layout_.regionSize;
  // A slice never crosses a region's end: regions are whole numbers of slices.
  if (slice.offset % layout_.regionSize == 0) {
    if (!loaded_ && recordsRead_ < layout_.regions) {
      if (!ReadAt(file_, at_, record_, static_cast<uint32_t>(layout_.RecordBytes()))) return StoppedAt(Step::ReadTest);
      check_.Add(record_, static_cast<size_t>(layout_.RecordBytes()));
      at_ += layout_.RecordBytes();
      const uint32_t index = LoadU32LE(record_);
      if (index >= layout_.regionCount || (recordsRead_ > 0 && index <= listed_[recordsRead_ - 1])) {
        return Refused(Step::CheckFollowUp);
      }
      listed_[recordsRead_++] = index;
      loaded_ = true;
    }
    current_ = loaded_ && listed_[recordsRead_ - 1] == region;
    if (current_) loaded_ = false;
  }
  if (!current_) return DoneOutcome();
  slice.hashBlocks = true;
  const uint64_t first = slice.offset % layout_.regionSize / kBlockSize;
  for (uint32_t i = 0; i < slice.blocks; ++i) slice.expected[i] = LoadU64LE(record_ + 4 + 8 * (first + i));
  return DoneOutcome();
}

Outcome FollowUpReader::Finish() {
  uint8_t check[kFollowUpCheckBytes];
  if (recordsRead_ != layout_.regions || loaded_) return Refused(Step::CheckFollowUp);
  if (!ReadAt(file_, at_, check, sizeof check)) return StoppedAt(Step::ReadTest);
  if (LoadHash128(check) != check_.Digest()) return Refused(Step::CheckFollowUp);
  return DoneOutcome();
}

namespace {

Outcome Write(HashedOutput& w, FileHandle brokenFile, uint64_t size, const std::vector<uint32_t>& differing, const char* folder,
              const char* brokenFilePath, int (*nameOutput)(char*, const char*, const char*), uint8_t* buffer,
              uint8_t* hashes, Progress& progress) {
  const FollowUpLayout layout = FollowUpLayoutFor(size, differing.size());
  if (!CreateOutput(&w.output, folder, brokenFilePath, brokenFile, ".crc", nameOutput)) {
    return StoppedAt(Step::CreateFollowUp);
  }
  uint8_t header[kFollowUpHeaderBytes];
  StoreFollowUpHeader(header, size, static_cast<uint32_t>(differing.size()));
  if (!w.Put(header, sizeof header)) return StoppedAt(Step::WriteFollowUp);
  for (const uint32_t region : differing) {
    uint8_t index[4];
    StoreU32LE(index, region);
    if (!w.Put(index, sizeof index)) return StoppedAt(Step::WriteFollowUp);
    const uint64_t start = uint64_t{region} * layout.regionSize;
    for (uint64_t offset = start; offset < start + layout.regionSize; offset += kStreamBufferBytes) {
      // Blocks past the file's end have no bytes to hash: their entries stay 0.
      const uint64_t present = offset < size ? size - offset : 0;
      const uint32_t count = static_cast<uint32_t>(present < kStreamBufferBytes ? present : kStreamBufferBytes);
      const uint32_t blocks = static_cast<uint32_t>(BlockCount64(count));
      if (!ReadPadded(brokenFile, offset, buffer, count, blocks * kBlockSize)) return StoppedAt(Step::ReadBack);
      std::memset(hashes, 0, 8 * kStreamBufferBlocks);
      StoreBlockHashes(hashes, buffer, blocks);
      if (!w.Put(hashes, 8 * kStreamBufferBlocks)) return StoppedAt(Step::WriteFollowUp);
      if (progress.StopRequested()) return CancelledOutcome(true);
    }
  }
  uint8_t check[kFollowUpCheckBytes];
  StoreHash128(check, w.check.Digest());
  if (!WriteAt(w.output.file, w.at, check, sizeof check)) return StoppedAt(Step::WriteFollowUp);
  // A follow-up whose folder could not be flushed is still in place and is sent on as it is.
  if (CommitOutput(&w.output) == Commit::Failed) return StoppedAt(Step::WriteFollowUp);
  Outcome done = DoneOutcome();
  done.followUpPath = w.output.finalPath;
  done.followUpBytes = FollowUpLength(layout);
  return done;
}

}  // namespace

Outcome WriteFollowUp(FileHandle brokenFile, uint64_t size, const std::vector<uint32_t>& differing, const char* folder,
                      const char* brokenFilePath, int (*nameOutput)(char*, const char*, const char*), uint8_t* buffer,
                      uint8_t* hashes, Progress& progress) {
  HashedOutput w;
  Outcome result = Write(w, brokenFile, size, differing, folder, brokenFilePath, nameOutput, buffer, hashes, progress);
  AbandonOutput(&w.output);
  return result;
}
