// Valid-file scan: compares the valid file's blocks with a test file, whole files in memory,
// and writes the repair file NAME.fix with every block that must travel, then the valid file's
// fingerprint, hashed from the image already in memory, with the record of the broken file
// taken from the test file already in memory.
#include <cstdint>
#include <cstring>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"
#include "core/fingerprint_part.h"
#include "core/repair_file.h"
#include "core/repair_origin.h"
#include "core/test_file.h"
#include "platform/platform.h"
#include "support/files_by_path.h"
#include "whole_file/operations.h"
#include "whole_file/stops.h"

namespace {

// What one call holds; null until obtained.
struct ValidScan {
  FileHandle validFile = nullptr;
  FileHandle testFile = nullptr;
  FileHandle outputFile = nullptr;
  uint8_t* image = nullptr;
  uint8_t* testBuffer = nullptr;
  uint8_t* listArea = nullptr;
  uint8_t* repairArea = nullptr;
  uint8_t* fingerprint = nullptr;  // the region hashes, then the part written from them
};

void Release(ValidScan& scan) {
  if (scan.validFile != nullptr) CloseFile(scan.validFile);
  if (scan.testFile != nullptr) CloseFile(scan.testFile);
  if (scan.outputFile != nullptr) CloseFile(scan.outputFile);
  if (scan.image != nullptr) ReleaseMemory(scan.image);
  if (scan.testBuffer != nullptr) ReleaseMemory(scan.testBuffer);
  if (scan.repairArea != nullptr) ReleaseMemory(scan.repairArea);
  if (scan.listArea != nullptr) ReleaseMemory(scan.listArea);
  if (scan.fingerprint != nullptr) ReleaseMemory(scan.fingerprint);
}

// Collects every block that must travel into the two areas, committing their pages as they
// fill, and the test file's entries of the blocks sampled; the outcome of a failure, or Done
// with the counts.
Outcome CollectBlocks(ValidScan& scan, const Reporter& reporter, const Exchange& exchange,
                      const TestFileLayout& test, uint32_t* damagedCount, uint8_t* samples, uint32_t* sampleCount) {
  const uint32_t blocks = static_cast<uint32_t>(exchange.validBlocks);
  // Entries behind the test file's end read as 0 from the zero-filled buffer.
  const uint8_t* entries = scan.testBuffer + test.headerBytes;
  const uint64_t candidates = SampleCandidates(exchange.recordedSize, exchange.entries, exchange.validSize);
  BlockSampler sampler(candidates);
  uint32_t count = 0;
  for (uint32_t b = 1; b <= blocks; ++b) {
    const uint8_t* block = scan.image + uint64_t{b - 1} * kBlockSize;
    const uint32_t entry = LoadU32LE(entries + 4 * uint64_t{b - 1});
    const bool travels = BlockMustTravel(exchange, b, block, entry);
    if (b <= candidates && sampler.Take(travels)) StoreOriginSample(samples + kOriginSampleBytes * (*sampleCount)++, b, entry);
    if (!travels) continue;

    if (count == kMaxDamagedBlocks) {
      return StoppedAt(reporter, Step::CommitRepairBlocks, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
    }
    uint8_t* repairBlock = scan.repairArea + uint64_t{count} * kBlockSize;
    if (!CommitPage(repairBlock)) return StoppedAt(reporter, Step::CommitRepairBlocks);
    std::memcpy(repairBlock, block, kBlockSize);

    uint8_t* listEntry = scan.listArea + 4 * count;
    if ((4 * count) % kPageSize == 0 && !CommitPage(listEntry)) return StoppedAt(reporter, Step::CommitList);
    StoreU32LE(listEntry, b);
    ++count;
  }
  *damagedCount = count;
  return DoneOutcome();
}

Outcome Scan(ValidScan& scan, const Reporter& reporter, const char* validFilePath, const char* testFilePath,
             const char* outputFolder) {
  scan.validFile = OpenInputByPath(validFilePath);
  if (scan.validFile == nullptr) return StoppedAt(reporter, Step::OpenValid);
  scan.testFile = OpenInputByPath(testFilePath);
  if (scan.testFile == nullptr) return StoppedAt(reporter, Step::OpenTest);

  uint32_t validSize;
  if (!GetFileSize32(scan.validFile, &validSize)) return StoppedAt(reporter, Step::SizeValid);
  const uint32_t blocks = BlockCount(validSize);
  // An empty valid file asks for 0 bytes here, which the platform refuses.
  scan.image = static_cast<uint8_t*>(CommitMemory(ImageBytes(validSize)));
  if (scan.image == nullptr) return StoppedAt(reporter, Step::AllocateValid);

  uint32_t testSize;
  if (!GetFileSize32(scan.testFile, &testSize)) return StoppedAt(reporter, Step::SizeTest);
  // Every test file is read in the small form here, as it always was below 4 GiB.
  if (!TestFileFitsValid(SmallTestFileEntries(testSize), blocks)) return Refused(reporter, Step::CheckTestFileSize);

  // Sized by the valid file, so it holds the whole test file (at most 4 * N + 7 bytes now)
  // and has an entry for every block.
  scan.testBuffer = static_cast<uint8_t*>(CommitMemory(blocks * 16 + 4));
  if (scan.testBuffer == nullptr) return StoppedAt(reporter, Step::AllocateTest);
  if (!ReadWhole(scan.validFile, scan.image, validSize)) return StoppedAt(reporter, Step::ReadValid);
  if (!ReadWhole(scan.testFile, scan.testBuffer, testSize)) return StoppedAt(reporter, Step::ReadTest);
  switch (ReadExchangeFileKind(scan.testBuffer, testSize)) {
    case ExchangeFileKind::Plain:
    case ExchangeFileKind::FollowUpTestFile:  // the dialog hands a follow-up to the streaming scan
      break;
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::FolderFollowUp:
    case ExchangeFileKind::FolderRepairFile:
      return Refused(reporter, Step::CheckTestFileForFolder);
  }

  // Reserved whole and committed page by page, so each area grows with the damage found and
  // still goes to the file in one write.
  scan.listArea = static_cast<uint8_t*>(ReserveMemory(kListAreaBytes));
  if (scan.listArea == nullptr) return StoppedAt(reporter, Step::ReserveList);
  scan.repairArea = static_cast<uint8_t*>(ReserveMemory(kRepairAreaBytes));
  if (scan.repairArea == nullptr) return StoppedAt(reporter, Step::ReserveRepairBlocks);

  TestFileLayout test;
  ReadTestFileLayout(scan.testBuffer, testSize, false, &test);
  Exchange exchange;
  exchange.validSize = validSize;
  exchange.validBlocks = blocks;
  exchange.recordedSize = test.recordedSize;
  exchange.entries = test.entries;

  uint32_t damagedCount = 0;
  uint8_t samples[kMostSampledBlocks * kOriginSampleBytes];
  uint32_t sampleCount = 0;
  Outcome collected = CollectBlocks(scan, reporter, exchange, test, &damagedCount, samples, &sampleCount);
  if (collected.ending != Ending::Done) return collected;
  if (CopiesIdentical(exchange, damagedCount)) return ReportIdentical(reporter);

  // The record of the broken file: what the test file says of it, for the repair to check.
  RepairOrigin origin;
  origin.recordedSize = test.recordedSize;
  origin.recordedEntries = test.entries;
  origin.carried = damagedCount;
  origin.samples = sampleCount;
  const uint64_t regionCount = FingerprintRegionCount(validSize);
  const uint32_t regionBytes = static_cast<uint32_t>(sizeof(Hash128) * regionCount);
  const uint32_t partBytes = static_cast<uint32_t>(FingerprintPartBytes(FingerprintForm::EveryRegion, regionCount, &origin));
  scan.fingerprint = static_cast<uint8_t*>(CommitMemory(regionBytes + partBytes));
  if (scan.fingerprint == nullptr) return StoppedAt(reporter, Step::AllocateFingerprint);
  Hash128* regions = reinterpret_cast<Hash128*>(scan.fingerprint);
  Fingerprinter print(validSize, regions);
  print.Add(scan.image, validSize);
  uint8_t* part = scan.fingerprint + regionBytes;
  uint64_t at = StoreFingerprintHead(part, validSize, print.Whole(), regions, nullptr, 0, origin);
  const uint8_t* entries = scan.testBuffer + test.headerBytes;
  for (uint32_t j = 0; j < damagedCount; ++j, at += 4) {
    const uint32_t b = LoadU32LE(scan.listArea + 4 * j);
    std::memcpy(part + at, entries + 4 * uint64_t{b - 1}, 4);
  }
  std::memcpy(part + at, samples, kOriginSampleBytes * sampleCount);
  SealFingerprintPart(part, at + kOriginSampleBytes * sampleCount);

  scan.outputFile = CreateOutputNamedAfter(outputFolder, validFilePath, ".fix");
  if (scan.outputFile == nullptr) return StoppedAt(reporter, Step::CreateOutput);

  // Four writes, as the dialog has always written it: S, K, the list, the blocks; and the
  // fingerprint behind them.
  uint8_t header[kLongestRepairFileHeader];
  StoreRepairFileHeader(header, validSize, damagedCount);
  if (!WriteWhole(scan.outputFile, header, 4) || !WriteWhole(scan.outputFile, header + 4, 4) ||
      !WriteWhole(scan.outputFile, scan.listArea, 4 * damagedCount) ||
      !WriteWhole(scan.outputFile, scan.repairArea, kBlockSize * damagedCount) ||
      !WriteWhole(scan.outputFile, scan.fingerprint + regionBytes, partBytes)) {
    return StoppedAt(reporter, Step::WriteOutput);
  }
  if (!FlushFile(scan.outputFile)) return StoppedAt(reporter, Step::WriteOutput);
  // The inputs go back first, so that the output is the last file released on this way out
  // as on every other; a late failure of its close is a failed write.
  CloseFile(scan.validFile);
  scan.validFile = nullptr;
  CloseFile(scan.testFile);
  scan.testFile = nullptr;
  const int closed = CloseFile(scan.outputFile);
  scan.outputFile = nullptr;
  if (!closed) return StoppedAt(reporter, Step::WriteOutput);
  Outcome done = DoneOutcome();
  done.outputBytes = kRepairFileHeaderBytes + uint64_t{kRepairEntryBytes} * damagedCount + partBytes;
  done.validSize = validSize;
  done.fingerprinted = true;
  done.fingerprint = print.Whole();
  return done;
}

}  // namespace

Outcome ScanValidFile(const Reporter& reporter, const char* validFilePath, const char* testFilePath,
                      const char* outputFolder) {
  ValidScan scan;
  Outcome result = Scan(scan, reporter, validFilePath, testFilePath, outputFolder);
  Release(scan);
  return result;
}
