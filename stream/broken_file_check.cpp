// The check of the broken file against its test file before a repair.
#include "stream/broken_file_check.h"

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/test_file.h"
#include "support/files_by_path.h"

namespace {

Outcome Refuse(const CheckRefusal& why) {
  Outcome result;
  result.ending = Ending::CheckRefused;
  result.check = why;
  return result;
}

Outcome Compare(FileHandle brokenFile, uint64_t size, FileHandle testFile, uint8_t* slice, uint8_t* entries,
                Progress& progress) {
  uint64_t testLength;
  if (!GetFileSize64(testFile, &testLength)) return CheckCouldNotRead(Step::SizeTest);
  CheckRefusal why;
  why.testLength = testLength;
  why.brokenSize = size;
  if (testLength < kTestFileHeaderBytes) {
    why.finding = CheckFinding::TestFileTooShort;
    return Refuse(why);
  }
  uint8_t start[kLongestTestFileHeader] = {};
  const uint32_t startBytes = testLength < sizeof start ? static_cast<uint32_t>(testLength) : sizeof start;
  if (!ReadAt(testFile, 0, start, startBytes)) return CheckCouldNotRead(Step::ReadTest);
  switch (ReadExchangeFileKind(start, testLength)) {
    case ExchangeFileKind::Plain:
    case ExchangeFileKind::FollowUpTestFile:  // not made from a broken file: malformed below
      break;
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::FolderRepairFile:
      why.finding = CheckFinding::TestFileForFolder;
      return Refuse(why);
  }

  // Either form, read strictly: one entry per block of the size recorded.
  TestFileLayout layout;
  const TestFileVerdict verdict = ReadTestFileLayout(start, testLength, true, &layout);
  why.recordedSize = layout.recordedSize;
  if (verdict != TestFileVerdict::Read || !TestFileIsExact(layout)) {
    why.finding = CheckFinding::TestFileMalformed;
    return Refuse(why);
  }
  if (size != layout.recordedSize) {
    why.finding = CheckFinding::SizeDiffers;
    return Refuse(why);
  }
  const uint32_t header = layout.headerBytes;

  for (uint64_t done = 0; done < size;) {
    if (progress.StopRequested()) return CancelledOutcome(false);
    const uint32_t count = size - done < kStreamBufferBytes ? static_cast<uint32_t>(size - done) : kStreamBufferBytes;
    const uint32_t blocks = static_cast<uint32_t>(BlockCount64(count));
    // The last block is compared as the scan saw it: padded with zero bytes.
    if (!ReadPadded(brokenFile, done, slice, count, blocks * kBlockSize)) return CheckCouldNotRead(Step::ReadBroken);
    const uint64_t first = done / kBlockSize;  // 0-based
    if (!ReadAt(testFile, header + 4 * first, entries, 4 * blocks)) return CheckCouldNotRead(Step::ReadTest);
    for (uint32_t i = 0; i < blocks; ++i) {
      if (BlockChecksum(slice + uint64_t{i} * kBlockSize) == LoadU32LE(entries + 4 * i)) continue;
      why.finding = CheckFinding::BlockDiffers;
      why.block = first + i + 1;
      why.first = (first + i) * kBlockSize;
      why.last = why.first + BlockBytesInFile(why.block, size) - 1;
      return Refuse(why);
    }
    done += count;
    progress.Advance(count);
  }
  return DoneOutcome();
}

}  // namespace

// The step's failure, but the outcome of a refused check, since nothing has been written.
Outcome CheckCouldNotRead(Step step) {
  Outcome result = StoppedAt(step);
  result.ending = Ending::CheckRefused;
  return result;
}

Outcome CheckBrokenFile(FileHandle brokenFile, uint64_t size, const char* checkFilePath, uint8_t* slice,
                        uint8_t* entries, Progress& progress) {
  FileHandle testFile = OpenInputByPath(checkFilePath);
  if (testFile == nullptr) return CheckCouldNotRead(Step::OpenTest);
  Outcome result = Compare(brokenFile, size, testFile, slice, entries, progress);
  CloseFile(testFile);
  return result;
}
