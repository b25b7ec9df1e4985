// Streaming broken-file scan: the test file NAME.crc from a broken file of any size. The file
// is read a slice at a time while a second thread takes the block checksums of the slices read
// before; the entries are gathered and written a few slices' worth at a time.
#include <cstdint>

#include "core/block.h"
#include "core/byte_order.h"
#include "support/files_by_path.h"
#include "core/test_file.h"
#include "stream/operations.h"
#include "stream/output_file.h"
#include "stream/pipeline.h"
#include "stream/steps.h"

namespace {

// The entries of this many slices go to the test file in one write.
constexpr uint32_t kSlicesPerWrite = 16;
constexpr uint32_t kEntriesBytes = 4 * kStreamBufferBlocks * kSlicesPerWrite;

// What one call holds; null until obtained.
struct BrokenScan {
  FileHandle brokenFile = nullptr;
  SliceRing ring;
  uint8_t* entries = nullptr;
  OutputFile output;
};

void Release(BrokenScan& scan) {
  AbandonOutput(&scan.output);
  if (scan.brokenFile != nullptr) CloseFile(scan.brokenFile);
  if (scan.entries != nullptr) ReleaseMemory(scan.entries);
  ReleaseSlices(&scan.ring);
}

class Checksums final : public SliceJob {
 public:
  Checksums(BrokenScan& scan, uint64_t written) : scan_(scan), written_(written) {}
  uint64_t written() const { return written_ + gathered_; }

  // Writes the entries gathered so far.
  bool Write() {
    if (gathered_ > 0 && !WriteAt(scan_.output.file, written_, scan_.entries, gathered_)) return false;
    written_ += gathered_;
    gathered_ = 0;
    return true;
  }

  Outcome Fill(Slice& slice) override {
    // The last block is taken as the dialog's image holds it: padded with zero bytes.
    if (!ReadPadded(scan_.brokenFile, slice.offset, slice.bytes, slice.count, slice.blocks * kBlockSize)) {
      return StoppedAt(Step::ReadBroken);
    }
    return DoneOutcome();
  }
  void Work(Slice& slice) override {
    for (uint32_t i = 0; i < slice.blocks; ++i) slice.checksums[i] = BlockChecksum(slice.bytes + i * kBlockSize);
  }
  Outcome Collect(Slice& slice) override {
    if (gathered_ + 4 * slice.blocks > kEntriesBytes && !Write()) return StoppedAt(Step::WriteOutput);
    for (uint32_t i = 0; i < slice.blocks; ++i) StoreU32LE(scan_.entries + gathered_ + 4 * i, slice.checksums[i]);
    gathered_ += 4 * slice.blocks;
    return DoneOutcome();
  }

 private:
  BrokenScan& scan_;
  uint64_t written_;
  uint32_t gathered_ = 0;
};

Outcome Scan(BrokenScan& scan, const char* brokenFilePath, const char* outputFolder, const StreamControl& control) {
  scan.brokenFile = OpenInputByPath(brokenFilePath);
  if (scan.brokenFile == nullptr) return StoppedAt(Step::OpenBroken);
  uint64_t size;
  if (!GetFileSize64(scan.brokenFile, &size)) return StoppedAt(Step::SizeBroken);
  if (!TestFileCanRecord(size)) return StoppedAt(Step::SizeBroken, SystemErrorKind::FileTooLarge);

  if (!AcquireSlices(&scan.ring)) return StoppedAt(Step::AllocateBroken);
  // The header, then the entries of a few slices.
  scan.entries = static_cast<uint8_t*>(CommitMemory(kEntriesBytes));
  if (scan.entries == nullptr) return StoppedAt(Step::AllocateTestFileBuffer);

  if (!CreateOutput(&scan.output, outputFolder, brokenFilePath, scan.brokenFile, ".crc", control.nameOutput)) {
    return StoppedAt(Step::CreateOutput);
  }
  const uint32_t header = StoreTestFileHeader(scan.entries, size);
  if (!WriteAt(scan.output.file, 0, scan.entries, header)) return StoppedAt(Step::WriteOutput);

  Progress progress(control, size);
  Checksums job(scan, header);
  Outcome read = RunSlices(scan.ring, job, size, progress);
  if (read.ending != Ending::Done) return read;
  if (!job.Write()) return StoppedAt(Step::WriteOutput);

  Outcome result = FinishOutput(&scan.output);
  if (result.ending != Ending::Done) return result;
  result.outputBytes = job.written();
  return result;
}

}  // namespace

Outcome StreamScanBrokenFile(const char* brokenFilePath, const char* outputFolder, const StreamControl& control) {
  BrokenScan scan;
  const HeldFileWaits waits(control.stop);
  Outcome result = Scan(scan, brokenFilePath, outputFolder, control);
  Release(scan);
  return result;
}
