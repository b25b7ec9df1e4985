// Streaming broken-file scan: the test file NAME.crc of a broken file of any size, in the form
// chosen (stream/test_file_writing.h).
#include <cstdint>

#include "core/block.h"
#include "core/test_file.h"
#include "stream/exchange_file_identity.h"
#include "stream/operations.h"
#include "stream/output_file.h"
#include "stream/pipeline.h"
#include "stream/steps.h"
#include "stream/test_file_writing.h"
#include "support/files_by_path.h"

namespace {

// What one call holds, released as it goes; the waits first, which the files keep.
struct BrokenScan {
  explicit BrokenScan(const std::atomic<bool>* stop) : waits(stop) {}
  HeldFileWaits waits;
  File brokenFile;
  SliceRing ring;
  OutputFile output;
};

Outcome Scan(BrokenScan& scan, const char* brokenFilePath, const char* outputFolder, const StreamControl& control,
             const TestFileChoice& choice) {
  if (const SystemError failed = OpenInputByPath(brokenFilePath, FileAccess::ReadOnly, &scan.waits, &scan.brokenFile)) {
    return Stopped(Step::OpenBroken, failed);
  }
  uint64_t size;
  if (const SystemError failed = GetFileSize64(scan.brokenFile, &size)) return Stopped(Step::SizeBroken, failed);
  if (!TestFileCanRecord(size)) return Stopped(Step::SizeBroken, ErrorOf(SystemErrorKind::FileTooLarge));

  if (const SystemError failed = AcquireSlices(&scan.ring)) return Stopped(Step::AllocateBroken, failed);
  // A test file or repair file chosen for the broken file is refused as what it is: its test
  // file would describe the exchange file, not the file to repair.
  ExchangeFileRole role;
  if (const SystemError failed = FindExchangeFileRole(scan.brokenFile, size, scan.ring.slices[0].bytes, &role)) {
    return Stopped(Step::ReadBroken, failed);
  }
  switch (role) {
    case ExchangeFileRole::TestFile: return Refused(Step::BrokenIsTestFile);
    case ExchangeFileRole::RepairFile: return Refused(Step::BrokenIsRepairFile);
    case ExchangeFileRole::None: break;
  }
  if (const SystemError failed =
          CreateOutput(&scan.output, outputFolder, brokenFilePath, scan.brokenFile, ".crc", control.nameOutput, &scan.waits)) {
    return Stopped(Step::CreateOutput, failed);
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
  BrokenScan scan(control.stop);
  return Scan(scan, brokenFilePath, outputFolder, control, choice);
}
