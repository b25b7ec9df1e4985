// Streaming valid-file scan: compares the valid file, slice by slice, with the test file's
// entries and writes the repair file NAME.fix with every damaged block and the valid file's
// fingerprint. The first pass reads the valid file while a second thread takes its checksums
// and its fingerprint and decides which blocks travel; it keeps only the damaged-block list.
// The second pass reads those blocks again to write them, so memory does not grow with the
// damage beyond the list itself. A follow-up test file is answered the same way, block by
// block by XXH3-64 instead of by checksum.
#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"
#include "core/fingerprint_part.h"
#include "core/repair_file.h"
#include "core/test_file.h"
#include "stream/follow_up.h"
#include "stream/operations.h"
#include "stream/output_file.h"
#include "stream/pipeline.h"
#include "stream/steps.h"
#include "support/files_by_path.h"

namespace {

// What one call holds; null until obtained.
struct ValidScan {
  FileHandle validFile = nullptr;
  FileHandle testFile = nullptr;
  SliceRing ring;
  uint8_t* record = nullptr;  // a follow-up's record, and the regions it lists
  uint32_t* listed = nullptr;
  Hash128* regions = nullptr;
  uint8_t* part = nullptr;
  OutputFile output;
};

void Release(ValidScan& scan) {
  AbandonOutput(&scan.output);
  if (scan.validFile != nullptr) CloseFile(scan.validFile);
  if (scan.testFile != nullptr) CloseFile(scan.testFile);
  ReleaseSlices(&scan.ring);
  for (void* region : {static_cast<void*>(scan.record), static_cast<void*>(scan.listed), static_cast<void*>(scan.regions),
                       static_cast<void*>(scan.part)}) {
    if (region != nullptr) ReleaseMemory(region);
  }
}


// The exchange, and where the test file's entries are, or the follow-up.
struct Comparison {
  Exchange exchange;    // S, N, B and E
  TestFileLayout test;  // the entries' place
  uint64_t testLength;  // T
  FollowUpReader* followUp = nullptr;
};

// The first pass: the fingerprint, and every damaged block's number in ascending order.
class FirstPass final : public SliceJob {
 public:
  FirstPass(ValidScan& scan, const Comparison& c, Fingerprinter& print, std::vector<uint32_t>* damaged)
      : scan_(scan), c_(c), print_(print), damaged_(damaged) {}

  Outcome Fill(Slice& slice) override {
    if (!ReadPadded(scan_.validFile, slice.offset, slice.bytes, slice.count, slice.blocks * kBlockSize)) {
      return StoppedAt(Step::ReadValid);
    }
    if (c_.followUp != nullptr) return c_.followUp->Expect(slice);
    // This slice's entries, as far as the test file has them; the rest read as 0.
    const uint64_t entryBytes = c_.testLength - c_.test.headerBytes;
    const uint64_t entriesFrom = 4 * (slice.offset / kBlockSize);
    const uint64_t entriesTo = std::min<uint64_t>(entriesFrom + 4 * uint64_t{slice.blocks}, entryBytes);
    if (entriesFrom < entriesTo && !ReadAt(scan_.testFile, c_.test.headerBytes + entriesFrom, slice.entries,
                                           static_cast<uint32_t>(entriesTo - entriesFrom))) {
      return StoppedAt(Step::ReadTest);
    }
    return DoneOutcome();
  }

  void Work(Slice& slice) override {
    print_.AddBlocks(slice.bytes, slice.count, slice.checksums);
    const uint64_t first = slice.offset / kBlockSize + 1;
    const uint64_t entryBytes = c_.testLength - c_.test.headerBytes;
    for (uint32_t i = 0; i < slice.blocks; ++i) {
      const uint8_t* block = slice.bytes + uint64_t{i} * kBlockSize;
      if (c_.followUp != nullptr) {
        slice.travels[i] = slice.hashBlocks && Xxh3Hash64(block, kBlockSize) != slice.expected[i];
      } else {
        const uint32_t entry = TestFileEntry(slice.entries + 4 * i, first + i, entryBytes);
        slice.travels[i] = BlockMustTravel(c_.exchange, first + i, block, entry, slice.checksums[i]);
      }
    }
  }

  Outcome Collect(Slice& slice) override {
    for (uint32_t i = 0; i < slice.blocks; ++i) {
      if (!slice.travels[i]) continue;
      // Grown by doubling, from one page's worth; the only memory that grows with the damage.
      if (damaged_->size() == damaged_->capacity()) {
        try {
          damaged_->reserve(damaged_->capacity() < 1024 ? 1024 : 2 * damaged_->capacity());
        } catch (const std::bad_alloc&) {
          return StoppedAt(Step::CommitList, SystemErrorKind::NotEnoughMemory);
        }
      }
      damaged_->push_back(static_cast<uint32_t>(slice.offset / kBlockSize + 1 + i));
    }
    return DoneOutcome();
  }

 private:
  ValidScan& scan_;
  const Comparison& c_;
  Fingerprinter& print_;
  std::vector<uint32_t>* damaged_;
};

// The second pass: the header, the list, then the damaged blocks read again from the valid
// file, neighbours in one read; then the fingerprint part.
Outcome WriteRepairFile(ValidScan& scan, const Comparison& c, const std::vector<uint32_t>& damaged, uint64_t partBytes,
                        Progress& progress, uint64_t* written) {
  uint8_t* slice = scan.ring.slices[0].bytes;
  const uint32_t count = static_cast<uint32_t>(damaged.size());
  uint64_t at = StoreRepairFileHeader(slice, c.exchange.validSize, count);
  uint32_t filled = static_cast<uint32_t>(at);
  for (uint32_t j = 0; j < count; ++j) {
    if (filled == kStreamBufferBytes) {
      if (!WriteAt(scan.output.file, at - filled, slice, filled)) return StoppedAt(Step::WriteOutput);
      filled = 0;
    }
    StoreU32LE(slice + filled, damaged[j]);
    filled += 4;
    at += 4;
  }
  if (filled > 0 && !WriteAt(scan.output.file, at - filled, slice, filled)) return StoppedAt(Step::WriteOutput);

  progress.AddToTotal(uint64_t{count} * kBlockSize);
  for (uint32_t j = 0; j < count;) {
    if (progress.StopRequested()) return CancelledOutcome(false);
    uint32_t run = 1;
    while (j + run < count && run < kStreamBufferBlocks && damaged[j + run] == damaged[j] + run) ++run;
    const uint64_t start = uint64_t{damaged[j] - 1} * kBlockSize;
    const uint32_t present = static_cast<uint32_t>(std::min<uint64_t>(c.exchange.validSize - start, uint64_t{run} * kBlockSize));
    if (!ReadPadded(scan.validFile, start, slice, present, run * kBlockSize)) return StoppedAt(Step::ReadValid);
    if (!WriteAt(scan.output.file, at, slice, run * kBlockSize)) return StoppedAt(Step::WriteOutput);
    at += uint64_t{run} * kBlockSize;
    j += run;
    progress.Advance(uint64_t{run} * kBlockSize);
  }
  if (!WriteAt(scan.output.file, at, scan.part, static_cast<uint32_t>(partBytes))) return StoppedAt(Step::WriteOutput);
  *written = at + partBytes;
  return DoneOutcome();
}

// Reads which test file it is and checks it against the valid file.
Outcome ReadTestFile(ValidScan& scan, Comparison& c, uint8_t* start, FollowUpLayout* followUp) {
  Exchange& exchange = c.exchange;
  if (!GetFileSize64(scan.testFile, &c.testLength)) return StoppedAt(Step::SizeTest);
  const uint32_t startBytes = static_cast<uint32_t>(std::min<uint64_t>(c.testLength, kFollowUpHeaderBytes));
  if (startBytes > 0 && !ReadAt(scan.testFile, 0, start, startBytes)) return StoppedAt(Step::ReadTest);
  const ExchangeFileKind kind = ReadExchangeFileKind(start, c.testLength);
  switch (kind) {
    case ExchangeFileKind::FollowUpTestFile:
      if (!ReadFollowUpLayout(start, c.testLength, followUp) || followUp->size != exchange.validSize) {
        return Refused(Step::CheckFollowUp);
      }
      return DoneOutcome();
    case ExchangeFileKind::Plain:
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::FolderRepairFile:
      break;
  }
  // Below 4 GiB the test file is read as the dialog reads it, in the small form only.
  const TestFileVerdict verdict = ReadTestFileLayout(start, c.testLength, exchange.validSize >= kLargeFormSize, &c.test);
  if (verdict == TestFileVerdict::LargeMalformed) return Refused(Step::CheckLargeTestFile);
  if (verdict == TestFileVerdict::TooShort || !TestFileFitsValid(c.test.entries, exchange.validBlocks)) {
    return Refused(Step::CheckTestFileSize);
  }
  // After the size check, as the dialog's scan, which reads the whole file first, finds it.
  switch (kind) {
    case ExchangeFileKind::Plain:
    case ExchangeFileKind::FollowUpTestFile:
      break;
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::FolderRepairFile:
      return Refused(Step::CheckTestFileForFolder);
  }
  exchange.recordedSize = c.test.recordedSize;
  exchange.entries = c.test.entries;
  return DoneOutcome();
}

Outcome Scan(ValidScan& scan, const char* validFilePath, const char* testFilePath, const char* outputFolder,
             const StreamControl& control, bool prove) {
  scan.validFile = OpenInputByPath(validFilePath);
  if (scan.validFile == nullptr) return StoppedAt(Step::OpenValid);
  scan.testFile = OpenInputByPath(testFilePath);
  if (scan.testFile == nullptr) return StoppedAt(Step::OpenTest);

  Comparison c{};
  Exchange& exchange = c.exchange;
  if (!GetFileSize64(scan.validFile, &exchange.validSize)) return StoppedAt(Step::SizeValid);
  // The dialog's image of an empty file is a request for 0 bytes, refused as such.
  if (exchange.validSize == 0) return StoppedAt(Step::AllocateValid, SystemErrorKind::InvalidParameter);
  if (exchange.validSize > kLargestExchangedSize) return StoppedAt(Step::SizeValid, SystemErrorKind::FileTooLarge);
  exchange.validBlocks = BlockCount64(exchange.validSize);
  if (!AcquireSlices(&scan.ring)) return StoppedAt(Step::AllocateValid);

  uint8_t start[kFollowUpHeaderBytes] = {};
  FollowUpLayout followUpLayout;
  Outcome tested = ReadTestFile(scan, c, start, &followUpLayout);
  if (tested.ending != Ending::Done) return tested;
  const bool answering = followUpLayout.regions > 0;
  if (answering) {
    scan.record = static_cast<uint8_t*>(CommitMemory(static_cast<uint32_t>(followUpLayout.RecordBytes())));
    if (scan.record == nullptr) return StoppedAt(Step::AllocateTest);
    scan.listed = static_cast<uint32_t*>(CommitMemory(static_cast<uint32_t>(4 * followUpLayout.regions)));
    if (scan.listed == nullptr) return StoppedAt(Step::AllocateTest);
  }
  const uint64_t regionCount = FingerprintRegionCount(exchange.validSize);
  scan.regions = static_cast<Hash128*>(CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * regionCount)));
  if (scan.regions == nullptr) return StoppedAt(Step::AllocateFingerprint);

  Progress progress(control, exchange.validSize);
  Fingerprinter print(exchange.validSize, scan.regions);
  FollowUpReader followUp(scan.testFile, followUpLayout, start, scan.record, scan.listed);
  if (answering) c.followUp = &followUp;
  std::vector<uint32_t> damaged;
  FirstPass pass(scan, c, print, &damaged);
  Outcome collected = RunSlices(scan.ring, pass, exchange.validSize, progress);
  if (collected.ending != Ending::Done) return collected;
  if (answering) {
    Outcome finished = followUp.Finish();
    if (finished.ending != Ending::Done) return finished;
  } else if (CopiesIdentical(exchange, damaged.size()) && !prove) {
    return IdenticalOutcome();
  }

  const uint64_t partBytes = answering ? FingerprintPartBytes(FingerprintForm::ListedRegions, followUpLayout.regions)
                                       : FingerprintPartBytes(FingerprintForm::EveryRegion, regionCount);
  scan.part = static_cast<uint8_t*>(CommitMemory(static_cast<uint32_t>(partBytes)));
  if (scan.part == nullptr) return StoppedAt(Step::AllocateFingerprint);
  StoreFingerprintPart(scan.part, exchange.validSize, print.Whole(), scan.regions, answering ? scan.listed : nullptr,
                       followUpLayout.regions);

  if (!CreateOutput(&scan.output, outputFolder, validFilePath, scan.validFile, ".fix", control.nameOutput)) {
    return StoppedAt(Step::CreateOutput);
  }
  uint64_t written = 0;
  Outcome wrote = WriteRepairFile(scan, c, damaged, partBytes, progress, &written);
  if (wrote.ending != Ending::Done) return wrote;
  Outcome result = FinishOutput(&scan.output);
  if (result.ending != Ending::Done) return result;
  result.outputBytes = written;
  result.validSize = exchange.validSize;
  result.blocks = std::move(damaged);
  result.fingerprinted = true;
  result.fingerprint = print.Whole();
  return result;
}

}  // namespace

Outcome StreamScanValidFile(const char* validFilePath, const char* testFilePath, const char* outputFolder,
                            const StreamControl& control, bool prove) {
  ValidScan scan;
  const HeldFileWaits waits(control.stop);
  Outcome result = Scan(scan, validFilePath, testFilePath, outputFolder, control, prove);
  Release(scan);
  return result;
}
