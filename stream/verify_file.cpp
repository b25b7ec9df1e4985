// Streaming verification: a file compared with the fingerprint a repair file carries. Nothing
// is written: the repair file's blocks are only checked for their place, not applied.
#include <cstdint>
#include <vector>

#include "core/repair_file.h"
#include "stream/fingerprint_check.h"
#include "stream/operations.h"
#include "stream/steps.h"
#include "support/files_by_path.h"

namespace {

// What one call holds, released as it goes; the waits first, which the files keep.
struct Verifying {
  explicit Verifying(const std::atomic<bool>* stop) : waits(stop) {}
  HeldFileWaits waits;
  File file;
  File repairFile;
  Memory part;
  ReadBackBuffers readBack;
};

Outcome Check(Verifying& v, const char* filePath, const char* repairFilePath, const StreamControl& control) {
  if (const SystemError failed = OpenInputByPath(filePath, FileAccess::ReadOnly, &v.waits, &v.file)) return Stopped(Step::OpenBroken, failed);
  if (const SystemError failed = OpenInputByPath(repairFilePath, FileAccess::ReadOnly, &v.waits, &v.repairFile)) {
    return Stopped(Step::OpenRepair, failed);
  }
  uint64_t size;
  if (const SystemError failed = GetFileSize64(v.file, &size)) return Stopped(Step::SizeBroken, failed);
  uint64_t repairSize;
  if (const SystemError failed = GetFileSize64(v.repairFile, &repairSize)) return Stopped(Step::SizeRepair, failed);
  uint8_t start[kLongestRepairFileHeader] = {};
  const uint32_t startBytes = repairSize < sizeof start ? static_cast<uint32_t>(repairSize) : sizeof start;
  if (startBytes > 0) {
    if (const SystemError failed = ReadAt(v.repairFile, 0, start, startBytes)) return Stopped(Step::ReadRepair, failed);
  }
  RepairFileLayout layout;
  if (ReadRepairFileLayout(start, repairSize, &layout) != RepairFileVerdict::Read) {
    return Refused(layout.form == RepairFileForm::Large ? Step::CheckLargeRepairFile : Step::CheckRepairFile);
  }
  FingerprintPart header;
  Outcome read = ReadFingerprint(v.repairFile, repairSize, layout, &v.part, &header, nullptr);
  if (read.ending != Ending::Done || !v.part) {
    read.validSize = layout.validSize;
    return read;
  }
  if (const SystemError failed = AcquireReadBack(&v.readBack, header)) return Stopped(Step::AllocateReadBack, failed);
  Progress progress(control, size < header.validSize ? size : header.validSize);
  std::vector<uint32_t> differing;
  Outcome result = ReadBackAndCompare(v.file, size, v.part.bytes(), header, v.readBack, progress, &differing);
  if (result.ending == Ending::Done && result.verification == Verification::Differs) result.ending = Ending::Differs;
  result.validSize = layout.validSize;
  return result;
}

}  // namespace

Outcome StreamVerifyFile(const char* filePath, const char* repairFilePath, const StreamControl& control) {
  Verifying v(control.stop);
  return Check(v, filePath, repairFilePath, control);
}
