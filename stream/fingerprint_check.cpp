// Reading the fingerprint part and reading a file back against it.
#include "stream/fingerprint_check.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/fingerprint.h"

namespace {

class ReadBack final : public SliceJob {
 public:
  ReadBack(const File& file, Fingerprinter& print) : file_(file), print_(print) {}
  Outcome Fill(Slice& slice) override {
    if (const SystemError failed = ReadPadded(file_, slice.offset, slice.bytes, slice.count, slice.blocks * kBlockSize)) {
      return Stopped(Step::ReadBack, failed);
    }
    return DoneOutcome();
  }
  void Work(Slice& slice) override { print_.Add(slice.bytes, slice.count); }
  Outcome Collect(Slice&) override { return DoneOutcome(); }

 private:
  const File& file_;
  Fingerprinter& print_;
};

}  // namespace

Outcome ReadFingerprint(const File& repairFile, uint64_t repairSize, const RepairFileLayout& layout, Memory* part,
                        FingerprintPart* header, OriginRecord* record) {
  *part = Memory();
  const uint64_t at = layout.BlocksEnd();
  const uint64_t length = repairSize - at;
  uint8_t start[kLongestFingerprintHeader] = {};
  const uint32_t startBytes = static_cast<uint32_t>(length < sizeof start ? length : sizeof start);
  if (startBytes > 0) {
    if (const SystemError failed = ReadAt(repairFile, at, start, startBytes)) return Stopped(Step::ReadRepair, failed);
  }
  switch (ReadFingerprintHeader(start, length, layout.validSize, layout.damagedCount, header)) {
    case FingerprintVerdict::Absent: return DoneOutcome();
    case FingerprintVerdict::Damaged: return Refused(Step::CheckFingerprint);
    case FingerprintVerdict::Read: break;
  }
  // The header has tied the head to at most 65536 regions: a little over 1 MiB.
  const uint64_t headBytes = FingerprintHeadBytes(*header);
  if (const SystemError failed = CommitMemory(static_cast<uint32_t>(headBytes), part)) {
    return Stopped(Step::CommitRepairBuffer, failed);
  }
  if (const SystemError failed = ReadAt(repairFile, at, part->bytes(), static_cast<uint32_t>(headBytes))) {
    return Stopped(Step::ReadRepair, failed);
  }
  Hash128Stream check;
  check.Add(part->bytes(), static_cast<size_t>(headBytes));
  // The values may be many (4 bytes per carried block): read in pieces, kept where asked for.
  OriginRecord none;
  OriginRecord& kept = record != nullptr ? *record : none;
  const uint64_t valueCount = header->hasOrigin ? header->origin.carried : 0;
  std::vector<uint8_t> piece;
  try {
    if (valueCount > 0) piece.resize(std::min<uint64_t>(4 * valueCount, uint64_t{1} << 20));
    if (record != nullptr) record->values.reserve(valueCount);
  } catch (const std::bad_alloc&) {
    return Stopped(Step::CommitRepairBuffer, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  for (uint64_t done = 0; done < valueCount;) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(valueCount - done, piece.size() / 4));
    if (const SystemError failed = ReadAt(repairFile, at + headBytes + 4 * done, piece.data(), 4 * count)) {
      return Stopped(Step::ReadRepair, failed);
    }
    check.Add(piece.data(), 4 * count);
    if (record != nullptr) {
      for (uint32_t i = 0; i < count; ++i) record->values.push_back(LoadU32LE(piece.data() + 4 * i));
    }
    done += count;
  }
  // The samples and the check: at most 528 bytes.
  const uint32_t sampleBytes = header->hasOrigin ? kOriginSampleBytes * header->origin.samples : 0;
  uint8_t tail[sizeof kept.samples + kFingerprintCheckBytes];
  if (const SystemError failed =
          ReadAt(repairFile, at + headBytes + 4 * valueCount, tail, sampleBytes + kFingerprintCheckBytes)) {
    return Stopped(Step::ReadRepair, failed);
  }
  check.Add(tail, sampleBytes);
  std::memcpy(kept.samples, tail, sampleBytes);
  if (!FingerprintHeadHolds(part->bytes(), *header, tail, check.Digest(), LoadHash128(tail + sampleBytes))) {
    return Refused(Step::CheckFingerprint);
  }
  return DoneOutcome();
}

SystemError AcquireReadBack(ReadBackBuffers* buffers, const FingerprintPart& header) {
  if (const SystemError failed = AcquireSlices(&buffers->ring)) return failed;
  // A repair file without a fingerprint is read through the ring for a check alone.
  if (header.regionCount == 0) return SystemError{};
  // The file compared may be shorter than the valid file, never hashed longer.
  return CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * header.regionCount), &buffers->regions);
}

Outcome ReadBackAndCompare(const File& file, uint64_t fileSize, const uint8_t* part, const FingerprintPart& header,
                           ReadBackBuffers& buffers, Progress& progress, std::vector<uint32_t>* differing) {
  // Past the valid file's size nothing can agree; the regions up to it still say where.
  const uint64_t hashed = fileSize < header.validSize ? fileSize : header.validSize;
  Fingerprinter print(hashed, header.regionSize, buffers.Regions());
  ReadBack job(file, print);
  Outcome read = RunSlices(buffers.ring, job, hashed, progress);
  if (read.ending != Ending::Done) return read;
  Outcome result = DoneOutcome();
  result.fingerprinted = true;
  result.fingerprint = header.whole;
  result.verification = CompareWithFingerprint(part, header, fileSize, print.Whole(), buffers.Regions(), differing);
  if (result.verification == Verification::Differs) {
    result.differing = RegionRanges(*differing, header.regionSize, fileSize > header.validSize ? fileSize : header.validSize);
  }
  return result;
}
