// The check of the broken file against its test file before a repair, in one read that also
// checks the repair file's record and hashes the file as the repair will leave it.
#include "stream/broken_file_check.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"
#include "core/repair_origin.h"
#include "core/test_file.h"
#include "stream/compact_answer.h"
#include "stream/exchange_file_identity.h"
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

// A stop before anything was written, as the check tells it.
Outcome CheckRefusedBy(Outcome stopped) {
  if (stopped.ending == Ending::Stopped) stopped.ending = Ending::CheckRefused;
  return stopped;
}

// Whether the file's own sketch is the test file's; where not, the difference is decoded to name
// the first block that differs, or, more blocks differing than its symbols can name, none.
bool SameSketch(Sketch& recorded, const Sketch& own, CheckRefusal* why) {
  std::vector<CodedSymbol>& symbols = recorded.Symbols();
  bool same = recorded.Cells() == own.Cells();
  for (size_t i = 0; i < symbols.size(); ++i) {
    symbols[i] = {FieldSub(symbols[i].sum, own.Symbols()[i].sum), FieldSub(symbols[i].weighted, own.Symbols()[i].weighted),
                  FieldSub(symbols[i].checked, own.Symbols()[i].checked)};
    same = same && symbols[i].IsZero();
  }
  if (same) return true;
  std::vector<SketchDifference> found;
  const uint64_t blocks = BlockCount64(why->brokenSize);
  why->finding = CheckFinding::SketchDiffers;
  try {
    if (DecodeDifferences(symbols, [blocks](uint64_t key) { return key >= 1 && key <= blocks; }, &found) == DecodeVerdict::Decoded &&
        !found.empty()) {
      uint64_t block = found[0].key;
      for (const SketchDifference& d : found) block = std::min(block, d.key);
      why->finding = CheckFinding::BlockDiffers;
      why->block = block;
      why->first = (block - 1) * kBlockSize;
      why->last = why->first + BlockBytesInFile(block, why->brokenSize) - 1;
    }
  } catch (const std::bad_alloc&) {
    // Named or not, the file differs: the refusal stands without its block.
  }
  return false;
}

// The pass over the broken file: the calling thread reads a slice, its entries and the carried
// blocks in it, checks the record's blocks and puts the carried blocks in place in the slice
// (keeping the checksums of what they replace); the second thread takes the checksums and the
// hashes; the calling thread then compares the checksums with the entries.
class Pass final : public SliceJob {
 public:
  // sketch: null, or (a compact test file) the sketch the file's blocks go into, compared with
  // the test file's once the pass is done.
  Pass(const File& brokenFile, uint64_t size, const File& testFile, uint32_t testHeader, const RepairToCome& repair,
       bool takeCarried, Fingerprinter* print, Sketch* sketch, CheckRefusal* why)
      : brokenFile_(brokenFile), size_(size), testFile_(testFile), testHeader_(testHeader), repair_(repair),
        takeCarried_(takeCarried), print_(print), sketch_(sketch), why_(why),
        check_(repair.header != nullptr ? repair.header->origin : kNoOrigin, size, repair.layout->validSize) {}

  Outcome Fill(Slice& slice) override {
    const uint32_t present = slice.offset < size_ ? static_cast<uint32_t>(std::min<uint64_t>(size_ - slice.offset, slice.count)) : 0;
    // The last block is compared as the scan saw it: padded with zero bytes.
    if (const SystemError failed = ReadPadded(brokenFile_, slice.offset, slice.bytes, present, slice.blocks * kBlockSize)) {
      return CheckCouldNotRead(Step::ReadBroken, failed);
    }
    const uint64_t first = slice.offset / kBlockSize + 1;
    const uint32_t compared = static_cast<uint32_t>(BlockCount64(present));
    if (sketch_ == nullptr && compared > 0) {
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
    TakeChecksums(slice);
    // The file's own blocks as the scan saw them: a carried block by the checksum it had.
    if (sketch_ != nullptr && slice.offset < size_) {
      const uint32_t present = static_cast<uint32_t>(BlockCount64(std::min<uint64_t>(size_ - slice.offset, slice.count)));
      for (uint32_t i = 0; i < present; ++i) {
        if (slice.travels[i]) slice.checksums[i] = static_cast<uint32_t>(slice.expected[i]);
      }
      sketch_->AddBlocks(slice.offset / kBlockSize + 1, slice.checksums, present);
    }
  }

  Outcome Collect(Slice& slice) override {
    if (sketch_ != nullptr) return DoneOutcome();
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
  // The checksums of the file as it will be, and its hashes where the slice is that file.
  void TakeChecksums(Slice& slice) {
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

  const File& brokenFile_;
  uint64_t size_;
  const File& testFile_;
  uint32_t testHeader_;
  const RepairToCome& repair_;
  bool takeCarried_;
  Fingerprinter* print_;
  Sketch* sketch_;
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
  uint8_t start[kCompactHeaderBytes] = {};
  const uint32_t startBytes = testLength < sizeof start ? static_cast<uint32_t>(testLength) : sizeof start;
  if (const SystemError failed = ReadAt(testFile, 0, start, startBytes)) return CheckCouldNotRead(Step::ReadTest, failed);
  TestFileLayout layout;
  CompactTestFile compact;
  switch (ReadExchangeFileKind(start, testLength)) {
    case ExchangeFileKind::Plain:
    case ExchangeFileKind::FollowUpTestFile:  // not made from a broken file: malformed below
    case ExchangeFileKind::AskingRepairFile:  // no test file either
      break;
    case ExchangeFileKind::CompactTestFile: {
      Outcome read = ReadCompactTestFile(testFile, testLength, start, repair.buffer, Step::CommitBrokenBuffer, &compact);
      if (read.ending == Ending::Stopped && read.step == Step::CheckCompactTestFile) {
        why.finding = CheckFinding::TestFileMalformed;
        return Refuse(why);
      }
      if (read.ending != Ending::Done) return CheckRefusedBy(read);
      layout.recordedSize = compact.header.brokenSize;
      break;
    }
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::CompactFolderTestFile:
    case ExchangeFileKind::FolderAskingFile:
    case ExchangeFileKind::FolderFollowUp:
    case ExchangeFileKind::FolderRepairFile:
      why.finding = CheckFinding::TestFileForFolder;
      return Refuse(why);
  }

  // Either plain form, read strictly: one entry per block of the size recorded.
  if (!compact.sketch) {
    const TestFileVerdict verdict = ReadTestFileLayout(start, testLength, true, &layout);
    if (verdict != TestFileVerdict::Read || !TestFileIsExact(layout)) {
      why.recordedSize = layout.recordedSize;
      why.finding = CheckFinding::TestFileMalformed;
      return Refuse(why);
    }
  }
  why.recordedSize = layout.recordedSize;
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
  // The file's own sketch, made in the same pass, against the compact test file's.
  std::optional<Sketch> own;
  if (compact.sketch) {
    try {
      own.emplace(compact.header.symbols);
    } catch (const std::bad_alloc&) {
      return CheckCouldNotRead(Step::CommitBrokenBuffer, ErrorOf(SystemErrorKind::NotEnoughMemory));
    }
  }
  Pass pass(brokenFile, size, testFile, layout.headerBytes, repair, takeCarried, predict ? &print : nullptr,
            own ? &*own : nullptr, &why);
  Outcome read = RunSlices(ring, pass, std::max(size, predict ? validSize : 0), progress);
  if (read.ending != Ending::Done) return read;
  if (own && !SameSketch(*compact.sketch, *own, &why)) return Refuse(why);
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
Outcome CheckCouldNotRead(Step step, SystemError failed) { return CheckRefusedBy(Stopped(step, failed)); }

bool Ascending(const std::vector<uint32_t>& list) {
  for (size_t j = 1; j < list.size(); ++j) {
    if (list[j] <= list[j - 1]) return false;
  }
  return true;
}

Outcome CheckBrokenFile(const File& brokenFile, uint64_t size, const char* checkFilePath, const RepairToCome& repair,
                        SliceRing& ring, Progress& progress, Prediction* prediction) {
  File testFile;
  if (const SystemError failed = OpenInputByPath(checkFilePath, FileAccess::ReadOnly, brokenFile.waits(), &testFile)) {
    return CheckCouldNotRead(Step::OpenTest, failed);
  }
  Outcome compared = Compare(brokenFile, size, testFile, repair, ring, progress, prediction);
  if (compared.ending != Ending::Done || repair.header == nullptr || !repair.header->hasAnswers) return compared;
  // A repair file that names the test file it answers must answer this one: a stale answer,
  // left over from an earlier exchange, is refused even where the broken file still fits it.
  // Taken after the test file is known sound, so that a damaged one is refused as that.
  uint64_t length = 0;
  if (const SystemError failed = GetFileSize64(testFile, &length)) return CheckCouldNotRead(Step::SizeTest, failed);
  Hash128 hash;
  if (const SystemError failed = HashWholeFile(testFile, length, repair.buffer, &hash)) {
    return CheckCouldNotRead(Step::ReadTest, failed);
  }
  if (hash != repair.header->answers.testFile) {
    CheckRefusal why;
    why.finding = CheckFinding::AnswersOtherTestFile;
    return OtherFileOutcome(why);
  }
  return compared;
}
