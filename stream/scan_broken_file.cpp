// Streaming broken-file scan: the test file NAME.crc of a broken file of any size, in the form
// chosen (stream/test_file_writing.h).
#include <cstdint>

#include "core/block.h"
#include "core/test_file.h"
#include "stream/operations.h"
#include "stream/output_file.h"
#include "stream/pipeline.h"
#include "stream/steps.h"
#include "stream/test_file_writing.h"
#include "support/files_by_path.h"

namespace {

// What one call holds; null until obtained.
struct BrokenScan {
  FileHandle brokenFile = nullptr;
  SliceRing ring;
  OutputFile output;
};

void Release(BrokenScan& scan) {
  AbandonOutput(&scan.output);
  if (scan.brokenFile != nullptr) CloseFile(scan.brokenFile);
  ReleaseSlices(&scan.ring);
}

Outcome Scan(BrokenScan& scan, const char* brokenFilePath, const char* outputFolder, const StreamControl& control,
             const TestFileChoice& choice) {
  scan.brokenFile = OpenInputByPath(brokenFilePath);
  if (scan.brokenFile == nullptr) return StoppedAt(Step::OpenBroken);
  uint64_t size;
  if (!GetFileSize64(scan.brokenFile, &size)) return StoppedAt(Step::SizeBroken);
  if (!TestFileCanRecord(size)) return StoppedAt(Step::SizeBroken, SystemErrorKind::FileTooLarge);

  if (!AcquireSlices(&scan.ring)) return StoppedAt(Step::AllocateBroken);
  if (!CreateOutput(&scan.output, outputFolder, brokenFilePath, scan.brokenFile, ".crc", control.nameOutput)) {
    return StoppedAt(Step::CreateOutput);
  }
  Progress progress(control, size);
  uint64_t written = 0;
  Outcome wrote = WriteTestFileOf(scan.brokenFile, size, ChosenSymbols(size, choice), nullptr, scan.output.file, scan.ring,
                                  progress, &written);
  if (wrote.ending != Ending::Done) return wrote;
  Outcome result = FinishOutput(&scan.output);
  if (result.ending != Ending::Done) return result;
  result.outputBytes = written;
  return result;
}

}  // namespace

Outcome StreamScanBrokenFile(const char* brokenFilePath, const char* outputFolder, const StreamControl& control,
                             const TestFileChoice& choice) {
  BrokenScan scan;
  const HeldFileWaits waits(control.stop);
  Outcome result = Scan(scan, brokenFilePath, outputFolder, control, choice);
  Release(scan);
  return result;
}
