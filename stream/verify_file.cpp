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

// What one call holds; null until obtained.
struct Verifying {
  FileHandle file = nullptr;
  FileHandle repairFile = nullptr;
  uint8_t* part = nullptr;
  ReadBackBuffers readBack;
};

void Release(Verifying& v) {
  if (v.file != nullptr) CloseFile(v.file);
  if (v.repairFile != nullptr) CloseFile(v.repairFile);
  if (v.part != nullptr) ReleaseMemory(v.part);
  ReleaseReadBack(&v.readBack);
}

Outcome Check(Verifying& v, const char* filePath, const char* repairFilePath, const StreamControl& control) {
  v.file = OpenInputByPath(filePath);
  if (v.file == nullptr) return StoppedAt(Step::OpenBroken);
  v.repairFile = OpenInputByPath(repairFilePath);
  if (v.repairFile == nullptr) return StoppedAt(Step::OpenRepair);
  uint64_t size;
  if (!GetFileSize64(v.file, &size)) return StoppedAt(Step::SizeBroken);
  uint64_t repairSize;
  if (!GetFileSize64(v.repairFile, &repairSize)) return StoppedAt(Step::SizeRepair);
  uint8_t start[kLongestRepairFileHeader] = {};
  const uint32_t startBytes = repairSize < sizeof start ? static_cast<uint32_t>(repairSize) : sizeof start;
  if (startBytes > 0 && !ReadAt(v.repairFile, 0, start, startBytes)) return StoppedAt(Step::ReadRepair);
  RepairFileLayout layout;
  if (ReadRepairFileLayout(start, repairSize, &layout) != RepairFileVerdict::Read) {
    return Refused(layout.form == RepairFileForm::Large ? Step::CheckLargeRepairFile : Step::CheckRepairFile);
  }
  FingerprintPart header;
  Outcome read = ReadFingerprint(v.repairFile, repairSize, layout, &v.part, &header);
  if (read.ending != Ending::Done || v.part == nullptr) {
    read.validSize = layout.validSize;
    return read;
  }
  if (!AcquireReadBack(&v.readBack, header)) return StoppedAt(Step::AllocateReadBack);
  Progress progress(control, size < header.validSize ? size : header.validSize);
  std::vector<uint32_t> differing;
  Outcome result = ReadBackAndCompare(v.file, size, v.part, header, v.readBack, progress, &differing);
  if (result.ending == Ending::Done && result.verification == Verification::Differs) result.ending = Ending::Differs;
  result.validSize = layout.validSize;
  return result;
}

}  // namespace

Outcome StreamVerifyFile(const char* filePath, const char* repairFilePath, const StreamControl& control) {
  Verifying v;
  const HeldFileWaits waits(control.stop);
  Outcome result = Check(v, filePath, repairFilePath, control);
  Release(v);
  return result;
}
