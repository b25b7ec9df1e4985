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

// What one call holds, released as it goes; the waits first, which the files keep.
struct BrokenScan {
  explicit BrokenScan(const std::atomic<bool>* stop) : waits(stop) {}
  HeldFileWaits waits;
  File brokenFile;
  SliceRing ring;
  Memory entries;
  OutputFile output;
};

class Checksums final : public SliceJob {
 public:
  Checksums(BrokenScan& scan, uint64_t written) : scan_(scan), written_(written) {}
  uint64_t written() const { return written_ + gathered_; }

  // Writes the entries gathered so far.
  SystemError Write() {
    if (gathered_ > 0) {
      if (const SystemError failed = WriteAt(scan_.output.file, written_, scan_.entries.bytes(), gathered_)) return failed;
    }
    written_ += gathered_;
    gathered_ = 0;
    return SystemError{};
  }

  Outcome Fill(Slice& slice) override {
    // The last block is taken padded with zero bytes, as the test file's checksum takes it.
    if (const SystemError failed =
            ReadPadded(scan_.brokenFile, slice.offset, slice.bytes, slice.count, slice.blocks * kBlockSize)) {
      return Stopped(Step::ReadBroken, failed);
    }
    return DoneOutcome();
  }
  void Work(Slice& slice) override {
    for (uint32_t i = 0; i < slice.blocks; ++i) slice.checksums[i] = BlockChecksum(slice.bytes + i * kBlockSize);
  }
  Outcome Collect(Slice& slice) override {
    if (gathered_ + 4 * slice.blocks > kEntriesBytes) {
      if (const SystemError failed = Write()) return Stopped(Step::WriteOutput, failed);
    }
    for (uint32_t i = 0; i < slice.blocks; ++i) StoreU32LE(scan_.entries.bytes() + gathered_ + 4 * i, slice.checksums[i]);
    gathered_ += 4 * slice.blocks;
    return DoneOutcome();
  }

 private:
  BrokenScan& scan_;
  uint64_t written_;
  uint32_t gathered_ = 0;
};

Outcome Scan(BrokenScan& scan, const char* brokenFilePath, const char* outputFolder, const StreamControl& control) {
  if (const SystemError failed = OpenInputByPath(brokenFilePath, &scan.waits, &scan.brokenFile)) {
    return Stopped(Step::OpenBroken, failed);
  }
  uint64_t size;
  if (const SystemError failed = GetFileSize64(scan.brokenFile, &size)) return Stopped(Step::SizeBroken, failed);
  if (!TestFileCanRecord(size)) return Stopped(Step::SizeBroken, ErrorOf(SystemErrorKind::FileTooLarge));

  if (const SystemError failed = AcquireSlices(&scan.ring)) return Stopped(Step::AllocateBroken, failed);
  // The header, then the entries of a few slices.
  if (const SystemError failed = CommitMemory(kEntriesBytes, &scan.entries)) return Stopped(Step::AllocateTestFileBuffer, failed);

  if (const SystemError failed =
          CreateOutput(&scan.output, outputFolder, brokenFilePath, scan.brokenFile, ".crc", control.nameOutput, &scan.waits)) {
    return Stopped(Step::CreateOutput, failed);
  }
  const uint32_t header = StoreTestFileHeader(scan.entries.bytes(), size);
  if (const SystemError failed = WriteAt(scan.output.file, 0, scan.entries.bytes(), header)) {
    return Stopped(Step::WriteOutput, failed);
  }

  Progress progress(control, size);
  Checksums job(scan, header);
  Outcome read = RunSlices(scan.ring, job, size, progress);
  if (read.ending != Ending::Done) return read;
  if (const SystemError failed = job.Write()) return Stopped(Step::WriteOutput, failed);

  Outcome result = FinishOutput(&scan.output);
  if (result.ending != Ending::Done) return result;
  result.outputBytes = job.written();
  return result;
}

}  // namespace

Outcome StreamScanBrokenFile(const char* brokenFilePath, const char* outputFolder, const StreamControl& control) {
  BrokenScan scan(control.stop);
  return Scan(scan, brokenFilePath, outputFolder, control);
}
