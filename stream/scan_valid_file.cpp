// Streaming valid-file scan: compares the valid file, slice by slice, with the test file's
// entries and writes the repair file NAME.fix with every damaged block. The first pass keeps
// only the damaged-block list; the second reads those blocks again to write them, so memory
// does not grow with the damage beyond the list itself.
#include <cstdint>
#include <new>
#include <vector>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "support/files_by_path.h"
#include "core/repair_file.h"
#include "core/test_file.h"
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

// The exchange, and where the test file's entries are.
struct Comparison {
  Exchange exchange;    // S, N, B and E
  TestFileLayout test;  // the entries' place
  uint64_t testLength;  // T
};

// The first pass: every damaged block's number, in ascending order.
Outcome CollectDamagedBlocks(ValidScan& scan, const Comparison& c, Progress& progress, std::vector<uint32_t>* damaged) {
  const uint64_t entryBytes = c.testLength - c.test.headerBytes;
  const uint64_t validSize = c.exchange.validSize;
  for (uint64_t done = 0; done < validSize;) {
    if (progress.StopRequested()) return CancelledOutcome(false);
    const uint32_t count = static_cast<uint32_t>(Min(validSize - done, kStreamBufferBytes));
    const uint32_t blocks = static_cast<uint32_t>(BlockCount64(count));
    if (!ReadPadded(scan.validFile, done, scan.slice, count, blocks * kBlockSize)) return StoppedAt(Step::ReadValid);
    const uint64_t first = done / kBlockSize + 1;
    // This slice's entries, as far as the test file has them; the rest read as 0.
    const uint64_t entriesFrom = 4 * (first - 1);
    const uint64_t entriesTo = Min(entriesFrom + 4 * uint64_t{blocks}, entryBytes);
    if (entriesFrom < entriesTo &&
        !ReadAt(scan.testFile, c.test.headerBytes + entriesFrom, scan.entries, static_cast<uint32_t>(entriesTo - entriesFrom))) {
      return StoppedAt(Step::ReadTest);
    }
    for (uint32_t i = 0; i < blocks; ++i) {
      const uint64_t b = first + i;
      const uint32_t entry = TestFileEntry(scan.entries + 4 * i, b, entryBytes);
      if (!BlockMustTravel(c.exchange, b, scan.slice + uint64_t{i} * kBlockSize, entry)) continue;
      // Grown by doubling, from one page's worth; the only memory that grows with the damage.
      if (damaged->size() == damaged->capacity()) {
        try {
          damaged->reserve(damaged->capacity() < 1024 ? 1024 : 2 * damaged->capacity());
        } catch (const std::bad_alloc&) {
          return StoppedAt(Step::CommitList, SystemErrorKind::NotEnoughMemory);
        }
      }
      damaged->push_back(static_cast<uint32_t>(b));
    }
    done += count;
    progress.Advance(count);
  }
  return DoneOutcome();
}

// The second pass: the header, the list, then the damaged blocks read again from the valid
// file, neighbours in one read.
Outcome WriteRepairFile(ValidScan& scan, const Comparison& c, const std::vector<uint32_t>& damaged,
                             Progress& progress, uint64_t* written) {
  const uint32_t count = static_cast<uint32_t>(damaged.size());
  uint64_t at = StoreRepairFileHeader(scan.slice, c.exchange.validSize, count);
  uint32_t filled = static_cast<uint32_t>(at);
  for (uint32_t j = 0; j < count; ++j) {
    if (filled == kStreamBufferBytes) {
      if (!WriteAt(scan.output.file, at - filled, scan.slice, filled)) return StoppedAt(Step::WriteOutput);
      filled = 0;
    }
    StoreU32LE(scan.slice + filled, damaged[j]);
    filled += 4;
    at += 4;
  }
  if (filled > 0 && !WriteAt(scan.output.file, at - filled, scan.slice, filled)) return StoppedAt(Step::WriteOutput);

  progress.AddToTotal(uint64_t{count} * kBlockSize);
  for (uint32_t j = 0; j < count;) {
    if (progress.StopRequested()) return CancelledOutcome(false);
    uint32_t run = 1;
    while (j + run < count && run < kStreamBufferBlocks && damaged[j + run] == damaged[j] + run) ++run;
    const uint64_t start = uint64_t{damaged[j] - 1} * kBlockSize;
    const uint32_t present = static_cast<uint32_t>(Min(c.exchange.validSize - start, uint64_t{run} * kBlockSize));
    if (!ReadPadded(scan.validFile, start, scan.slice, present, run * kBlockSize)) return StoppedAt(Step::ReadValid);
    if (!WriteAt(scan.output.file, at, scan.slice, run * kBlockSize)) return StoppedAt(Step::WriteOutput);
    at += uint64_t{run} * kBlockSize;
    j += run;
    progress.Advance(uint64_t{run} * kBlockSize);
  }
  *written = at;
  return DoneOutcome();
}

Outcome Scan(ValidScan& scan, const char* validFilePath, const char* testFilePath, const char* outputFolder,
                  const StreamControl& control) {
  scan.validFile = OpenInputByPath(validFilePath);
  if (scan.validFile == nullptr) return StoppedAt(Step::OpenValid);
  scan.testFile = OpenInputByPath(testFilePath);
  if (scan.testFile == nullptr) return StoppedAt(Step::OpenTest);

  Comparison c{};
  Exchange& exchange = c.exchange;
  if (!GetFileSize64(scan.validFile, &exchange.validSize)) return StoppedAt(Step::SizeValid);
  // The dialog's image of an empty file is a request for 0 bytes, refused as such.
  if (exchange.validSize == 0) return StoppedAt(Step::AllocateValid, SystemErrorKind::InvalidParameter);
  if (exchange.validSize > kLargestExchangedSize) return StoppedAt(Step::SizeValid, SystemErrorKind::FileTooLarge);
  exchange.validBlocks = BlockCount64(exchange.validSize);
  scan.slice = static_cast<uint8_t*>(CommitMemory(kStreamBufferBytes));
  if (scan.slice == nullptr) return StoppedAt(Step::AllocateValid);

  if (!GetFileSize64(scan.testFile, &c.testLength)) return StoppedAt(Step::SizeTest);
  uint8_t start[kLongestTestFileHeader] = {};
  const uint32_t startBytes = static_cast<uint32_t>(Min(c.testLength, sizeof start));
  if (startBytes > 0 && !ReadAt(scan.testFile, 0, start, startBytes)) return StoppedAt(Step::ReadTest);
  // Below 4 GiB the test file is read as the dialog reads it, in the small form only.
  const TestFileVerdict verdict = ReadTestFileLayout(start, c.testLength, exchange.validSize >= kLargeFormSize, &c.test);
  if (verdict == TestFileVerdict::LargeMalformed) return Refused(Step::CheckLargeTestFile);
  if (verdict == TestFileVerdict::TooShort || !TestFileFitsValid(c.test.entries, exchange.validBlocks)) {
    return Refused(Step::CheckTestFileSize);
  }
  // After the size check, as the dialog's scan, which reads the whole file first, finds it.
  if (IsFolderExchangeFile(start, c.testLength)) return Refused(Step::CheckTestFileForFolder);
  exchange.recordedSize = c.test.recordedSize;
  exchange.entries = c.test.entries;

  scan.entries = static_cast<uint8_t*>(CommitMemory(4 * kStreamBufferBlocks));
  if (scan.entries == nullptr) return StoppedAt(Step::AllocateTest);

  Progress progress(control, exchange.validSize);
  std::vector<uint32_t> damaged;
  Outcome collected = CollectDamagedBlocks(scan, c, progress, &damaged);
  if (collected.ending != Ending::Done) return collected;
  if (CopiesIdentical(exchange, damaged.size())) return IdenticalOutcome();

  if (!CreateOutput(&scan.output, outputFolder, validFilePath, scan.validFile, ".fix", control.nameOutput)) {
    return StoppedAt(Step::CreateOutput);
  }
  uint64_t written = 0;
  Outcome wrote = WriteRepairFile(scan, c, damaged, progress, &written);
  if (wrote.ending != Ending::Done) return wrote;
  const Commit committed = CommitOutput(&scan.output);
  if (committed == Commit::Failed) return StoppedAt(Step::WriteOutput);

  Outcome result = DoneOutcome();
  if (committed == Commit::FolderUnflushed) {
    result.outputMayNotSurvivePowerCut = true;
    result.systemError = LastSystemError();
  }
  result.outputPath = scan.output.finalPath;
  result.outputBytes = written;
  result.validSize = exchange.validSize;
  result.blocks = std::move(damaged);
  return result;
}

}  // namespace

Outcome StreamScanValidFile(const char* validFilePath, const char* testFilePath, const char* outputFolder,
                            const StreamControl& control) {
  ValidScan scan;
  Outcome result = Scan(scan, validFilePath, testFilePath, outputFolder, control);
  Release(scan);
  return result;
}
