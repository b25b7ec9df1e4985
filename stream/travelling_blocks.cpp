// The two passes of a valid-file scan over one file.
#include "stream/travelling_blocks.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/test_file.h"

Outcome TravellingBlocks::Fill(Slice& slice) {
  if (validBytes_ != nullptr) {
    std::memcpy(slice.bytes, validBytes_ + slice.offset, uint64_t{slice.blocks} * kBlockSize);
  } else if (const SystemError failed = ReadPadded(validFile_, slice.offset, slice.bytes, slice.count, slice.blocks * kBlockSize)) {
    return Stopped(Step::ReadValid, failed);
  }
  if (followUp_ != nullptr) return followUp_->Expect(slice);
  if (sketched_.sketch != nullptr) return DoneOutcome();
  // This slice's entries, as far as the test file has them; the rest read as 0.
  const uint64_t entriesFrom = 4 * (slice.offset / kBlockSize);
  const uint64_t entriesTo = std::min<uint64_t>(entriesFrom + 4 * uint64_t{slice.blocks}, entries_.bytes);
  if (entriesFrom < entriesTo) {
    if (const SystemError failed =
            ReadAt(*entries_.file, entries_.at + entriesFrom, slice.entries, static_cast<uint32_t>(entriesTo - entriesFrom))) {
      return Stopped(Step::ReadTest, failed);
    }
  }
  return DoneOutcome();
}

void TravellingBlocks::Work(Slice& slice) {
  // The fingerprint and the block checksums in one pass over the slice.
  print_.AddBlocks(slice.bytes, slice.count, slice.checksums);
  const uint64_t first = slice.offset / kBlockSize + 1;
  if (sketched_.sketch != nullptr && first <= sketched_.blocks) {
    const uint64_t count = std::min<uint64_t>(slice.blocks, sketched_.blocks - first + 1);
    sketched_.sketch->SubtractBlocks(first, slice.checksums, static_cast<size_t>(count));
  }
  for (uint32_t i = 0; i < slice.blocks; ++i) {
    const uint8_t* block = slice.bytes + uint64_t{i} * kBlockSize;
    if (followUp_ != nullptr) {
      slice.travels[i] = slice.hashBlocks && Xxh3Hash64(block, kBlockSize) != slice.expected[i];
    } else if (sketched_.sketch != nullptr) {
      // As if the checksums were equal: what travels by its bytes alone.
      slice.travels[i] = BlockMustTravel(exchange_, first + i, block, slice.checksums[i], slice.checksums[i]);
    } else {
      const uint32_t entry = TestFileEntry(slice.entries + 4 * i, first + i, entries_.bytes);
      slice.travels[i] = BlockMustTravel(exchange_, first + i, block, entry, slice.checksums[i]);
    }
  }
}

Outcome TravellingBlocks::Collect(Slice& slice) {
  for (uint32_t i = 0; i < slice.blocks; ++i) {
    if (!slice.travels[i]) continue;
    // Grown by doubling, from one page's worth; the only memory that grows with the damage.
    if (travelling_->size() == travelling_->capacity()) {
      try {
        travelling_->reserve(travelling_->capacity() < 1024 ? 1024 : 2 * travelling_->capacity());
      } catch (const std::bad_alloc&) {
        return Stopped(listFull_, ErrorOf(SystemErrorKind::NotEnoughMemory));
      }
    }
    travelling_->push_back(static_cast<uint32_t>(slice.offset / kBlockSize + 1 + i));
  }
  return DoneOutcome();
}

Outcome WriteTravellingBlocks(const File& validFile, uint64_t validSize, const std::vector<uint32_t>& travelling,
                              uint8_t* buffer, uint32_t filled, const File& output, uint64_t* at, Progress& progress,
                              std::vector<uint32_t>* checksums) {
  Outcome numbers = WriteTravellingNumbers(travelling, buffer, filled, output, at);
  if (numbers.ending != Ending::Done) return numbers;
  return WriteTravellingBytes(validFile, validSize, travelling, buffer, output, at, progress, checksums);
}

Outcome WriteTravellingNumbers(const std::vector<uint32_t>& travelling, uint8_t* buffer, uint32_t filled, const File& output,
                               uint64_t* at) {
  const size_t count = travelling.size();
  for (size_t j = 0; j < count; ++j) {
    if (filled == kStreamBufferBytes) {
      if (const SystemError failed = WriteAt(output, *at - filled, buffer, filled)) return Stopped(Step::WriteOutput, failed);
      filled = 0;
    }
    StoreU32LE(buffer + filled, travelling[j]);
    filled += 4;
    *at += 4;
  }
  if (filled > 0) {
    if (const SystemError failed = WriteAt(output, *at - filled, buffer, filled)) return Stopped(Step::WriteOutput, failed);
  }
  return DoneOutcome();
}

Outcome WriteTravellingBytes(const File& validFile, uint64_t validSize, const std::vector<uint32_t>& travelling,
                             uint8_t* buffer, const File& output, uint64_t* at, Progress& progress,
                             std::vector<uint32_t>* checksums) {
  const size_t count = travelling.size();
  progress.AddToTotal(uint64_t{count} * kBlockSize);
  for (size_t j = 0; j < count;) {
    if (progress.StopRequested()) return CancelledOutcome(false);
    uint32_t run = 1;
    while (j + run < count && run < kStreamBufferBlocks && travelling[j + run] == travelling[j] + run) ++run;
    const uint64_t start = uint64_t{travelling[j] - 1} * kBlockSize;
    const uint32_t present = static_cast<uint32_t>(std::min<uint64_t>(validSize - start, uint64_t{run} * kBlockSize));
    if (const SystemError failed = ReadPadded(validFile, start, buffer, present, run * kBlockSize)) {
      return Stopped(Step::ReadValid, failed);
    }
    for (uint32_t i = 0; checksums != nullptr && i < run; ++i) checksums->push_back(BlockChecksum(buffer + uint64_t{i} * kBlockSize));
    if (const SystemError failed = WriteAt(output, *at, buffer, run * kBlockSize)) return Stopped(Step::WriteOutput, failed);
    *at += uint64_t{run} * kBlockSize;
    j += run;
    progress.Advance(uint64_t{run} * kBlockSize);
  }
  return DoneOutcome();
}
