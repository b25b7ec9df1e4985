// Streaming valid-file scan: compares the valid file, slice by slice, with the test file's
// entries and writes the repair file NAME.fix with every damaged block. The first pass keeps
// only the damaged-block list; the second reads those blocks again to write them, so memory
// does not grow with the damage beyond the list itself.
#include <cstdint>
#include <new>
#include <vector>

#include "engine/block.h"
#include "engine/byte_order.h"
#include "engine/messages.h"
#include "engine/steps.h"
#include "formats/repair_file.h"
#include "formats/test_file.h"
#include "stream/operations.h"
#include "stream/output_file.h"
#include "stream/steps.h"

namespace {

// What one call holds; null until obtained.
struct ValidScan {
  FileHandle validFile = nullptr;
  FileHandle testFile = nullptr;
  uint8_t* slice = nullptr;
  uint8_t* entries = nullptr;
  OutputFile output;
};

void Release(ValidScan& scan) {
  AbandonOutput(&scan.output);
  if (scan.validFile != nullptr) CloseFile(scan.validFile);
  if (scan.testFile != nullptr) CloseFile(scan.testFile);
  if (scan.slice != nullptr) ReleaseMemory(scan.slice);
  if (scan.entries != nullptr) ReleaseMemory(scan.entries);
}

uint64_t Min(uint64_t a, uint64_t b) { return a < b ? a : b; }
uint64_t Max(uint64_t a, uint64_t b) { return a > b ? a : b; }

// What the test file says about the broken file, and what the valid file is.
struct Comparison {
  uint64_t validSize;   // S
  uint64_t blocks;      // N
  TestFileLayout test;  // B, E and the entries' place
  uint64_t testLength;  // T
  uint64_t vouched;     // L = min(B, 4096 * E): the part of the broken file the entries cover
};

// Block b is damaged when its checksum differs from its entry, or when it reaches past the
// part of the broken file that the test file vouches for and the valid file has anything
// but zero bytes there: a broken file cut short, or an entry missing, must not pass a block
// whose words happen to cancel out.
bool Damaged(const Comparison& c, uint64_t b, const uint8_t* block, uint32_t entry) {
  if (BlockChecksum(block) != entry) return true;
  if (b * kBlockSize <= c.vouched) return false;
  const uint64_t start = (b - 1) * kBlockSize;
  const uint64_t from = Max(c.vouched, start);
  const uint64_t to = Min(b * kBlockSize, c.validSize);
  return from < to && !AllZero(block + (from - start), to - from);
}

// The first pass: every damaged block's number, in ascending order.
StreamResult CollectDamagedBlocks(ValidScan& scan, const Comparison& c, Progress& progress, std::vector<uint32_t>* damaged) {
  const uint64_t entryBytes = c.testLength - c.test.headerBytes;
  for (uint64_t done = 0; done < c.validSize;) {
    if (progress.StopRequested()) return CancelledResult(false);
    const uint32_t count = static_cast<uint32_t>(Min(c.validSize - done, kStreamBufferBytes));
    const uint32_t blocks = static_cast<uint32_t>(BlockCount64(count));
    if (!ReadPadded(scan.validFile, done, scan.slice, count, blocks * kBlockSize)) return StoppedAt(message::kReadValid);
    const uint64_t first = done / kBlockSize + 1;
    // This slice's entries, as far as the test file has them; the rest read as 0.
    const uint64_t entriesFrom = 4 * (first - 1);
    const uint64_t entriesTo = Min(entriesFrom + 4 * uint64_t{blocks}, entryBytes);
    if (entriesFrom < entriesTo &&
        !ReadAt(scan.testFile, c.test.headerBytes + entriesFrom, scan.entries, static_cast<uint32_t>(entriesTo - entriesFrom))) {
      return StoppedAt(message::kReadTest);
    }
    for (uint32_t i = 0; i < blocks; ++i) {
      const uint64_t b = first + i;
      const uint32_t entry = TestFileEntry(scan.entries + 4 * i, b, entryBytes);
      if (!Damaged(c, b, scan.slice + uint64_t{i} * kBlockSize, entry)) continue;
      // Grown by doubling, from one page's worth; the only memory that grows with the damage.
      if (damaged->size() == damaged->capacity()) {
        try {
          damaged->reserve(damaged->capacity() < 1024 ? 1024 : 2 * damaged->capacity());
        } catch (const std::bad_alloc&) {
          return StoppedAt(message::kCommitList, SystemErrorKind::NotEnoughMemory);
        }
      }
      damaged->push_back(static_cast<uint32_t>(b));
    }
    done += count;
    progress.Advance(count);
  }
  StreamResult result;
  result.outcome = StreamOutcome::Done;
  return result;
}

// The second pass: the header, the list, then the damaged blocks read again from the valid
// file, neighbours in one read.
StreamResult WriteRepairFile(ValidScan& scan, const Comparison& c, const std::vector<uint32_t>& damaged,
                             Progress& progress, uint64_t* written) {
  const uint32_t count = static_cast<uint32_t>(damaged.size());
  uint64_t at = StoreRepairFileHeader(scan.slice, c.validSize, count);
  uint32_t filled = static_cast<uint32_t>(at);
  for (uint32_t j = 0; j < count; ++j) {
    if (filled == kStreamBufferBytes) {
      if (!WriteAt(scan.output.file, at - filled, scan.slice, filled)) return StoppedAt(message::kWriteOutput);
      filled = 0;
    }
    StoreU32LE(scan.slice + filled, damaged[j]);
    filled += 4;
    at += 4;
  }
  if (filled > 0 && !WriteAt(scan.output.file, at - filled, scan.slice, filled)) return StoppedAt(message::kWriteOutput);

  progress.AddToTotal(uint64_t{count} * kBlockSize);
  for (uint32_t j = 0; j < count;) {
    if (progress.StopRequested()) return CancelledResult(false);
    uint32_t run = 1;
    while (j + run < count && run < kStreamBufferBlocks && damaged[j + run] == damaged[j] + run) ++run;
    const uint64_t start = uint64_t{damaged[j] - 1} * kBlockSize;
    const uint32_t present = static_cast<uint32_t>(Min(c.validSize - start, uint64_t{run} * kBlockSize));
    if (!ReadPadded(scan.validFile, start, scan.slice, present, run * kBlockSize)) return StoppedAt(message::kReadValid);
    if (!WriteAt(scan.output.file, at, scan.slice, run * kBlockSize)) return StoppedAt(message::kWriteOutput);
    at += uint64_t{run} * kBlockSize;
    j += run;
    progress.Advance(uint64_t{run} * kBlockSize);
  }
  *written = at;
  StreamResult result;
  result.outcome = StreamOutcome::Done;
  return result;
}

StreamResult Scan(ValidScan& scan, const char* validFilePath, const char* testFilePath, const char* outputFolder,
                  const StreamControl& control) {
  scan.validFile = OpenInputByPath(validFilePath);
  if (scan.validFile == nullptr) return StoppedAt(message::kOpenValid);
  scan.testFile = OpenInputByPath(testFilePath);
  if (scan.testFile == nullptr) return StoppedAt(message::kOpenTest);

  Comparison c{};
  if (!GetFileSize64(scan.validFile, &c.validSize)) return StoppedAt(message::kSizeValid);
  // The dialog's image of an empty file is a request for 0 bytes, refused as such.
  if (c.validSize == 0) return StoppedAt(message::kAllocateValid, SystemErrorKind::InvalidParameter);
  if (c.validSize > kLargestExchangedSize) return StoppedAt(message::kSizeValid, SystemErrorKind::FileTooLarge);
  c.blocks = BlockCount64(c.validSize);
  scan.slice = static_cast<uint8_t*>(CommitMemory(kStreamBufferBytes));
  if (scan.slice == nullptr) return StoppedAt(message::kAllocateValid);

  if (!GetFileSize64(scan.testFile, &c.testLength)) return StoppedAt(message::kSizeTest);
  uint8_t start[kLargeTestFileHeaderBytes] = {};
  const uint32_t startBytes = static_cast<uint32_t>(Min(c.testLength, sizeof start));
  if (startBytes > 0 && !ReadAt(scan.testFile, 0, start, startBytes)) return StoppedAt(message::kReadTest);
  // Below 4 GiB the test file is read as the dialog reads it, in the small form only.
  const TestFileVerdict verdict = ReadTestFileLayout(start, c.testLength, c.validSize >= kLargeFormSize, &c.test);
  if (verdict == TestFileVerdict::LargeMalformed) {
    return Refused(message::kLargeTestFileDamaged, message::kUnforeseen, kBoxIconError);
  }
  if (verdict == TestFileVerdict::TooShort || c.test.entries > c.blocks) {
    return Refused(message::kBrokenLargerThanValid, message::kUnforeseen, kBoxIconError);
  }
  c.vouched = Min(c.test.recordedSize, kBlockSize * c.test.entries);

  scan.entries = static_cast<uint8_t*>(CommitMemory(4 * kStreamBufferBlocks));
  if (scan.entries == nullptr) return StoppedAt(message::kAllocateTest);

  Progress progress(control, c.validSize);
  std::vector<uint32_t> damaged;
  StreamResult collected = CollectDamagedBlocks(scan, c, progress, &damaged);
  if (collected.outcome != StreamOutcome::Done) return collected;
  if (damaged.empty() && c.test.recordedSize == c.validSize && c.test.entries == c.blocks) {
    StreamResult identical = Refused(message::kIdentical, message::kAttention, kBoxIconInformation);
    identical.outcome = StreamOutcome::Identical;
    return identical;
  }

  if (!CreateOutput(&scan.output, outputFolder, validFilePath, ".fix")) return StoppedAt(message::kCreateOutput);
  uint64_t written = 0;
  StreamResult wrote = WriteRepairFile(scan, c, damaged, progress, &written);
  if (wrote.outcome != StreamOutcome::Done) return wrote;
  if (!CommitOutput(&scan.output)) return StoppedAt(message::kWriteOutput);

  StreamResult result;
  result.outcome = StreamOutcome::Done;
  result.outputPath = scan.output.finalPath;
  result.outputBytes = written;
  result.validSize = c.validSize;
  result.blocks = std::move(damaged);
  return result;
}

}  // namespace

StreamResult StreamScanValidFile(const char* validFilePath, const char* testFilePath, const char* outputFolder,
                                 const StreamControl& control) {
  ValidScan scan;
  StreamResult result = Scan(scan, validFilePath, testFilePath, outputFolder, control);
  Release(scan);
  return result;
}
