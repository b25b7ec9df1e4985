// Streaming broken-file scan: the test file NAME.crc from a broken file of any size, read in
// slices and written as it goes.
#include <cstdint>

#include "core/block.h"
#include "core/byte_order.h"
#include "support/files_by_path.h"
#include "core/test_file.h"
#include "stream/operations.h"
#include "stream/output_file.h"
#include "stream/steps.h"

namespace {

// What one call holds; null until obtained.
struct BrokenScan {
  FileHandle brokenFile = nullptr;
  uint8_t* slice = nullptr;
  uint8_t* entries = nullptr;
  OutputFile output;
};

void Release(BrokenScan& scan) {
  AbandonOutput(&scan.output);
  if (scan.brokenFile != nullptr) CloseFile(scan.brokenFile);
  if (scan.entries != nullptr) ReleaseMemory(scan.entries);
  if (scan.slice != nullptr) ReleaseMemory(scan.slice);
}

Outcome Scan(BrokenScan& scan, const char* brokenFilePath, const char* outputFolder, const StreamControl& control) {
  scan.brokenFile = OpenInputByPath(brokenFilePath);
  if (scan.brokenFile == nullptr) return StoppedAt(Step::OpenBroken);
  uint64_t size;
  if (!GetFileSize64(scan.brokenFile, &size)) return StoppedAt(Step::SizeBroken);
  if (!TestFileCanRecord(size)) return StoppedAt(Step::SizeBroken, SystemErrorKind::FileTooLarge);

  scan.slice = static_cast<uint8_t*>(CommitMemory(kStreamBufferBytes));
  if (scan.slice == nullptr) return StoppedAt(Step::AllocateBroken);
  // The entries of one slice, behind room for the header.
  scan.entries = static_cast<uint8_t*>(CommitMemory(kLargeTestFileHeaderBytes + 4 * kStreamBufferBlocks));
  if (scan.entries == nullptr) return StoppedAt(Step::AllocateTestFileBuffer);

  if (!CreateOutput(&scan.output, outputFolder, brokenFilePath, scan.brokenFile, ".crc", control.nameOutput)) {
    return StoppedAt(Step::CreateOutput);
  }
  const uint32_t header = StoreTestFileHeader(scan.entries, size);
  if (!WriteAt(scan.output.file, 0, scan.entries, header)) return StoppedAt(Step::WriteOutput);

  Progress progress(control, size);
  uint64_t written = header;
  for (uint64_t done = 0; done < size;) {
    if (progress.StopRequested()) return CancelledOutcome(false);
    const uint32_t count = size - done < kStreamBufferBytes ? static_cast<uint32_t>(size - done) : kStreamBufferBytes;
    const uint32_t blocks = static_cast<uint32_t>(BlockCount64(count));
    // The last block is taken as the dialog's image holds it: padded with zero bytes.
    if (!ReadPadded(scan.brokenFile, done, scan.slice, count, blocks * kBlockSize)) return StoppedAt(Step::ReadBroken);
    for (uint32_t i = 0; i < blocks; ++i) StoreU32LE(scan.entries + 4 * i, BlockChecksum(scan.slice + i * kBlockSize));
    if (!WriteAt(scan.output.file, written, scan.entries, 4 * blocks)) return StoppedAt(Step::WriteOutput);
    written += 4 * blocks;
    done += count;
    progress.Advance(count);
  }

  const Commit committed = CommitOutput(&scan.output);
  if (committed == Commit::Failed) return StoppedAt(Step::WriteOutput);
  Outcome result = DoneOutcome();
  if (committed == Commit::FolderUnflushed) {
    result.outputMayNotSurvivePowerCut = true;
    result.systemError = LastSystemError();
  }
  result.outputPath = scan.output.finalPath;
  result.outputBytes = written;
  return result;
}

}  // namespace

Outcome StreamScanBrokenFile(const char* brokenFilePath, const char* outputFolder, const StreamControl& control) {
  BrokenScan scan;
  Outcome result = Scan(scan, brokenFilePath, outputFolder, control);
  Release(scan);
  return result;
}
