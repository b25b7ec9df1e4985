// Reading the fingerprint part and reading a file back against it.
#include "stream/fingerprint_check.h"

#include "core/block.h"
#include "core/fingerprint.h"

namespace {

class ReadBack final : public SliceJob {
 public:
  ReadBack(FileHandle file, Fingerprinter& print) : file_(file), print_(print) {}
  Outcome Fill(Slice& slice) override {
    if (!ReadPadded(file_, slice.offset, slice.bytes, slice.count, slice.blocks * kBlockSize)) return StoppedAt(Step::ReadBack);
    return DoneOutcome();
  }
  void Work(Slice& slice) override { print_.Add(slice.bytes, slice.count); }
  Outcome Collect(Slice&) override { return DoneOutcome(); }

 private:
  FileHandle file_;
  Fingerprinter& print_;
};

}  // namespace

Outcome ReadFingerprint(FileHandle repairFile, uint64_t repairSize, const RepairFileLayout& layout, uint8_t** part,
                        FingerprintPart* header) {
  *part = nullptr;
  const uint64_t length = repairSize - layout.BlocksEnd();
  uint8_t start[kFingerprintHeaderBytes] = {};
  const uint32_t startBytes = static_cast<uint32_t>(length < sizeof start ? length : sizeof start);
  if (startBytes > 0 && !ReadAt(repairFile, layout.BlocksEnd(), start, startBytes)) return StoppedAt(Step::ReadRepair);
  switch (ReadFingerprintHeader(start, length, layout.validSize, header)) {
    case FingerprintVerdict::Absent: return DoneOutcome();
    case FingerprintVerdict::Damaged: return Refused(Step::CheckFingerprint);
    case FingerprintVerdict::Read: break;
  }
  // The header has tied the length to at most 65536 regions: a little over 1 MiB.
  *part = static_cast<uint8_t*>(CommitMemory(static_cast<uint32_t>(length)));
  if (*part == nullptr) return StoppedAt(Step::CommitRepairBuffer);
  if (!ReadAt(repairFile, layout.BlocksEnd(), *part, static_cast<uint32_t>(length))) return StoppedAt(Step::ReadRepair);
  if (!FingerprintPartHolds(*part, *header)) return Refused(Step::CheckFingerprint);
  return DoneOutcome();
}

int AcquireReadBack(ReadBackBuffers* buffers, const FingerprintPart& header) {
  if (!AcquireSlices(&buffers->ring)) return 0;
  // The file compared may be shorter than the valid file, never hashed longer.
  buffers->regions = static_cast<Hash128*>(CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * header.regionCount)));
  if (buffers->regions == nullptr) {
    const uint32_t error = LastSystemError();
    ReleaseReadBack(buffers);
    SetLastSystemError(error);
    return 0;
  }
  return 1;
}

void ReleaseReadBack(ReadBackBuffers* buffers) {
  ReleaseSlices(&buffers->ring);
  if (buffers->regions != nullptr) ReleaseMemory(buffers->regions);
  buffers->regions = nullptr;
}

Outcome ReadBackAndCompare(FileHandle file, uint64_t fileSize, const uint8_t* part, const FingerprintPart& header,
                           ReadBackBuffers& buffers, Progress& progress, std::vector<uint32_t>* differing) {
  // Past the valid file's size nothing can agree; the regions up to it still say where.
  const uint64_t hashed = fileSize < header.validSize ? fileSize : header.validSize;
  Fingerprinter print(hashed, header.regionSize, buffers.regions);
  ReadBack job(file, print);
  Outcome read = RunSlices(buffers.ring, job, hashed, progress);
  if (read.ending != Ending::Done) return read;
  Outcome result = DoneOutcome();
  result.fingerprinted = true;
  result.fingerprint = header.whole;
  result.verification = CompareWithFingerprint(part, header, fileSize, print.Whole(), buffers.regions, differing);
  if (result.verification == Verification::Differs) {
    result.differing = RegionRanges(*differing, header.regionSize, fileSize > header.validSize ? fileSize : header.validSize);
  }
  return result;
}
