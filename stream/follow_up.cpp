// Reading and writing the follow-up test file a record at a time.
#include "stream/follow_up.h"

#include <cstring>

#include "core/byte_order.h"
#include "core/fingerprint.h"
#include "stream/output_file.h"

FollowUpReader::FollowUpReader(const File& file, const FollowUpLayout& layout, const uint8_t* header, uint8_t* record,
                               uint32_t* listed)
    : file_(file), layout_(layout), record_(record), listed_(listed), at_(layout.headerBytes) {
  check_.Add(header, layout.headerBytes);
}

Outcome FollowUpReader::Expect(Slice& slice) {
  const uint64_t region = slice.offset / layout_.regionSize;
  // A slice never crosses a region's end: regions are whole numbers of slices.
  if (slice.offset % layout_.regionSize == 0) {
    if (!loaded_ && recordsRead_ < layout_.regions) {
      if (const SystemError failed = ReadAt(file_, at_, record_, static_cast<uint32_t>(layout_.RecordBytes()))) {
        return Stopped(Step::ReadTest, failed);
      }
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
  if (const SystemError failed = ReadAt(file_, at_, check, sizeof check)) return Stopped(Step::ReadTest, failed);
  if (LoadHash128(check) != check_.Digest()) return Refused(Step::CheckFollowUp);
  return DoneOutcome();
}

namespace {

Outcome Write(HashedOutput& w, const File& brokenFile, uint64_t size, const std::vector<uint32_t>& differing,
              const FollowedRepair* followed, const char* folder, const char* brokenFilePath, OutputNamer nameOutput,
              uint8_t* buffer, uint8_t* hashes, Progress& progress) {
  const FollowUpLayout layout = FollowUpLayoutFor(size, differing.size(), followed);
  if (const SystemError failed =
          CreateOutput(&w.output, folder, brokenFilePath, brokenFile, ".crc", nameOutput, brokenFile.waits())) {
    return Stopped(Step::CreateFollowUp, failed);
  }
  uint8_t header[kLongestFollowUpHeader];
  const uint32_t headerBytes = StoreFollowUpHeader(header, layout);
  if (const SystemError failed = w.Put(header, headerBytes)) return Stopped(Step::WriteFollowUp, failed);
  for (const uint32_t region : differing) {
    uint8_t index[4];
    StoreU32LE(index, region);
    if (const SystemError failed = w.Put(index, sizeof index)) return Stopped(Step::WriteFollowUp, failed);
    const uint64_t start = uint64_t{region} * layout.regionSize;
    for (uint64_t offset = start; offset < start + layout.regionSize; offset += kStreamBufferBytes) {
      // Blocks past the file's end have no bytes to hash: their entries stay 0.
      const uint64_t present = offset < size ? size - offset : 0;
      const uint32_t count = static_cast<uint32_t>(present < kStreamBufferBytes ? present : kStreamBufferBytes);
      const uint32_t blocks = static_cast<uint32_t>(BlockCount64(count));
      if (const SystemError failed = ReadPadded(brokenFile, offset, buffer, count, blocks * kBlockSize)) {
        return Stopped(Step::ReadBack, failed);
      }
      std::memset(hashes, 0, 8 * kStreamBufferBlocks);
      StoreBlockHashes(hashes, buffer, blocks);
      if (const SystemError failed = w.Put(hashes, 8 * kStreamBufferBlocks)) return Stopped(Step::WriteFollowUp, failed);
      if (progress.StopRequested()) return CancelledOutcome(true);
    }
  }
  uint8_t check[kFollowUpCheckBytes];
  StoreHash128(check, w.check.Digest());
  if (const SystemError failed = WriteAt(w.output.file, w.at, check, sizeof check)) return Stopped(Step::WriteFollowUp, failed);
  // A follow-up whose folder could not be flushed is still in place and is sent on as it is.
  if (const SystemError failed = CommitOutput(&w.output).failed) return Stopped(Step::WriteFollowUp, failed);
  Outcome done = DoneOutcome();
  done.followUpPath = w.output.finalPath;
  done.followUpBytes = FollowUpLength(layout);
  return done;
}

}  // namespace

Outcome WriteFollowUp(const File& brokenFile, uint64_t size, const std::vector<uint32_t>& differing,
                      const FollowedRepair* followed, const char* folder, const char* brokenFilePath, OutputNamer nameOutput,
                      uint8_t* buffer, uint8_t* hashes, Progress& progress) {
  HashedOutput w;
  return Write(w, brokenFile, size, differing, followed, folder, brokenFilePath, nameOutput, buffer, hashes, progress);
}
