// The check of the broken file against its test file before a repair, in one read that also
// checks the repair file's record and hashes the file as the repair will leave it.
#include "stream/broken_file_check.h"

#include <algorithm>
#include <cstring>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"
#include "core/repair_origin.h"
#include "core/test_file.h"
#include "stream/origin_check.h"
#include "support/files_by_path.h"

namespace {

// The record a pass checks against when the repair file has none: never asked.
const RepairOrigin kNoOrigin{};

Outcome Refuse(const CheckRefusal& why) {
  Outcome result;
  result.ending = Ending::CheckRefused;
  result.check = why;
  return result;
}

// The pass over the broken file: the calling thread reads a slice, its entries and the carried
// blocks in it, checks the record's blocks and puts the carried blocks in place in the slice
// (keeping the checksums of what they replace); the second thread takes the checksums and the
// hashes; the calling thread then compares the checksums with the entries.
class Pass final : public SliceJob {
 public:
  Pass(const File& brokenFile, uint64_t size, const File& testFile, uint32_t testHeader, const RepairToCome& repair,
       bool takeCarried, Fingerprinter* print, CheckRefusal* why)
      : brokenFile_(brokenFile), size_(size), testFile_(testFile), testHeader_(testHeader), repair_(repair),
        takeCarried_(takeCarried), print_(print), why_(why),
        check_(repair.header != nullptr ? repair.header->origin : kNoOrigin, size, repair.layout->validSize) {}

  Outcome Fill(Slice& slice) override {
    const uint32_t present = slice.offset < size_ ? static_cast<uint32_t>(std::min<uint64_t>(size_ - slice.offset, slice.count)) : 0;
    // The last block is compared as the scan saw it: padded with zero bytes.
    if (const SystemError failed = ReadPadded(brokenFile_, slice.offset, slice.bytes, present, slice.blocks * kBlockSize)) {
      return CheckCouldNotRead(Step::ReadBroken, failed);
    }
    const uint64_t first = slice.offset / kBlockSize + 1;
    const uint32_t compared = static_cast<uint32_t>(BlockCount64(present));
    if (compared > 0) {
      if (const SystemError failed = ReadAt(testFile_, testHeader_ + 4 * (first - 1), slice.entries, 4 * compared)) {
        return CheckCouldNotRead(Step::ReadTest, failed);
      }
    }
    std::fill(slice.travels, slice.travels + slice.blocks, false);
    if (!takeCarried_) return DoneOutcome();
    const FingerprintPart* header = repair_.header;
    const bool recorded = header != nullptr && header->hasOrigin;
    while (recorded && sample_ < header->origin.samples) {
      const uint8_t* sample = repair_.record->samples + kOriginSampleBytes * sample_;
      const uint64_t b = LoadU32LE(sample);
      if (b >= first + slice.blocks) break;
      check_.Sampled(b, slice.bytes + (b - first) * kBlockSize, LoadU32LE(sample + 4));
      ++sample_;
    }
    const std::vector<uint32_t>& list = *repair_.list;
    while (carried_ < list.size() && list[carried_] < first + slice.blocks) {
      // The run of carried blocks that are neighbours, in one read.
      uint32_t run = 1;
      while (carried_ + run < list.size() && list[carried_ + run] == list[carried_] + run &&
             list[carried_ + run] < first + slice.blocks) {
        ++run;
      }
      const uint64_t at = repair_.layout->RepairBlocksAt() + uint64_t{carried_} * kBlockSize;
      if (const SystemError failed = ReadAt(*repair_.repairFile, at, repair_.buffer, run * kBlockSize)) {
        return Stopped(Step::ReadRepair, failed);
      }
      for (uint32_t k = 0; k < run; ++k) {
        const uint64_t b = list[carried_ + k];
        uint8_t* bytes = slice.bytes + (b - first) * kBlockSize;
        const uint8_t* block = repair_.buffer + uint64_t{k} * kBlockSize;
        slice.expected[b - first] = BlockChecksum(bytes);
        slice.travels[b - first] = true;
        if (recorded) check_.Carried(b, bytes, repair_.record->values[carried_ + k], block);
        std::memcpy(bytes, block, kBlockSize);
      }
      carried_ += run;
    }
    return DoneOutcome();
  }

  void Work(Slice& slice) override {
    const uint64_t validSize = print_ != nullptr ? repair_.layout->validSize : 0;
    const uint32_t hashed =
        slice.offset < validSize ? static_cast<uint32_t>(std::min<uint64_t>(validSize - slice.offset, slice.count)) : 0;
    // The checksums and the hashes in one pass where the slice is the file as it will be.
    if (print_ != nullptr && hashed == slice.count) {
      print_->AddBlocks(slice.bytes, slice.count, slice.checksums);
      return;
    }
    if (print_ != nullptr && hashed > 0) print_->Add(slice.bytes, hashed);
    for (uint32_t i = 0; i < slice.blocks; ++i) slice.checksums[i] = BlockChecksum(slice.bytes + uint64_t{i} * kBlockSize);
  }

  Outcome Collect(Slice& slice) override {
    const uint32_t present = slice.offset < size_ ? static_cast<uint32_t>(std::min<uint64_t>(size_ - slice.offset, slice.count)) : 0;
    const uint64_t first = slice.offset / kBlockSize;  // 0-based
    for (uint32_t i = 0; i < BlockCount64(present); ++i) {
      const uint32_t checksum = slice.travels[i] ? static_cast<uint32_t>(slice.expected[i]) : slice.checksums[i];
      if (checksum == LoadU32LE(slice.entries + 4 * i)) continue;
      why_->finding = CheckFinding::BlockDiffers;
      why_->block = first + i + 1;
      why_->first = (first + i) * kBlockSize;
      why_->last = why_->first + BlockBytesInFile(why_->block, size_) - 1;
      return Refuse(*why_);
    }
    return DoneOutcome();
  }

  const BrokenBlocksCheck& origin() const { return check_; }

 private:
  const File& brokenFile_;
  uint64_t size_;
  const File& testFile_;
  uint32_t testHeader_;
  const RepairToCome& repair_;
  bool takeCarried_;
  Fingerprinter* print_;
  CheckRefusal* why_;
  BrokenBlocksCheck check_;
  uint32_t sample_ = 0;
  size_t carried_ = 0;
};

Outcome Compare(const File& brokenFile, uint64_t size, const File& testFile, const RepairToCome& repair, SliceRing& ring,
                Progress& progress, Prediction* prediction) {
  uint64_t testLength;
  if (const SystemError failed = GetFileSize64(testFile, &testLength)) return CheckCouldNotRead(Step::SizeTest, failed);
  CheckRefusal why;
  why.testLength = testLength;
  why.brokenSize = size;
  if (testLength < kTestFileHeaderBytes) {
    why.finding = CheckFinding::TestFileTooShort;
    return Refuse(why);
  }
  uint8_t start[kLongestTestFileHeader] = {};
  const uint32_t startBytes = testLength < sizeof start ? static_cast<uint32_t>(testLength) : sizeof start;
  if (const SystemError failed = ReadAt(testFile, 0, start, startBytes)) return CheckCouldNotRead(Step::ReadTest, failed);
  switch (ReadExchangeFileKind(start, testLength)) {
    case ExchangeFileKind::Plain:
    case ExchangeFileKind::FollowUpTestFile:  // not made from a broken file: malformed below
      break;
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::FolderFollowUp:
    case ExchangeFileKind::FolderRepairFile:
      why.finding = CheckFinding::TestFileForFolder;
      return Refuse(why);
  }

  // Either form, read strictly: one entry per block of the size recorded.
  TestFileLayout layout;
  const TestFileVerdict verdict = ReadTestFileLayout(start, testLength, true, &layout);
  why.recordedSize = layout.recordedSize;
  if (verdict != TestFileVerdict::Read || !TestFileIsExact(layout)) {
    why.finding = CheckFinding::TestFileMalformed;
    return Refuse(why);
  }
  if (size != layout.recordedSize) {
    why.finding = CheckFinding::SizeDiffers;
    return Refuse(why);
  }
  const FingerprintPart* header = repair.header;
  const uint64_t validSize = repair.layout->validSize;
  if (header != nullptr && header->hasOrigin) {
    Outcome refused;
    if (!OriginSizeHolds(header->origin, size, validSize, &refused)) return refused;
  }

  // The carried blocks are taken, and the result predicted, only from a list in order.
  const bool takeCarried = Ascending(*repair.list);
  const bool predict = takeCarried && header != nullptr && repair.regions != nullptr;
  Fingerprinter print(predict ? validSize : 0, repair.regions);
  Pass pass(brokenFile, size, testFile, layout.headerBytes, repair, takeCarried, predict ? &print : nullptr, &why);
  Outcome read = RunSlices(ring, pass, std::max(size, predict ? validSize : 0), progress);
  if (read.ending != Ending::Done) return read;
  if (takeCarried && header != nullptr && header->hasOrigin) {
    prediction->originChecked = true;
    if (!pass.origin().Holds()) return pass.origin().Refusal();
  }
  if (predict) {
    prediction->made = true;
    prediction->whole = print.Whole();
  }
  return DoneOutcome();
}

}  // namespace

// The step's failure, but the outcome of a refused check, since nothing has been written.
Outcome CheckCouldNotRead(Step step, SystemError failed) {
  Outcome result = Stopped(step, failed);
  result.ending = Ending::CheckRefused;
  return result;
}

bool Ascending(const std::vector<uint32_t>& list) {
  for (size_t j = 1; j < list.size(); ++j) {
    if (list[j] <= list[j - 1]) return false;
  }
  return true;
}

Outcome CheckBrokenFile(const File& brokenFile, uint64_t size, const char* checkFilePath, const RepairToCome& repair,
                        SliceRing& ring, Progress& progress, Prediction* prediction) {
  File testFile;
  if (const SystemError failed = OpenInputByPath(checkFilePath, brokenFile.waits(), &testFile)) {
    return CheckCouldNotRead(Step::OpenTest, failed);
  }
  return Compare(brokenFile, size, testFile, repair, ring, progress, prediction);
}
