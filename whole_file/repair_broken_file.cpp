// Broken-file repair: puts the repair file's blocks in place and rewrites the broken file with
// exactly the valid size. A repair file with the valid file's fingerprint behind its blocks has
// it checked with the rest before anything is touched, and the rewritten file is read back and
// compared with it; where it still differs, a follow-up test file is written for those
// regions. A fingerprint that records the broken file it was made for has that checked on the
// image already in memory before anything is written.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

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
#include "support/path_buffer.h"
#include "support/output_path.h"
#include "support/strip_last_component.h"
#include "whole_file/operations.h"
#include "whole_file/stops.h"

namespace {

// What one call holds; null until obtained.
struct Repair {
  FileHandle brokenFile = nullptr;
  FileHandle repairFile = nullptr;
  uint8_t* repairBuffer = nullptr;
  uint8_t* brokenBuffer = nullptr;
  Hash128* regions = nullptr;  // of the file read back
  FileHandle followUp = nullptr;
};

void Release(Repair& repair) {
  if (repair.brokenFile != nullptr) CloseFile(repair.brokenFile);
  if (repair.repairFile != nullptr) CloseFile(repair.repairFile);
  if (repair.followUp != nullptr) CloseFile(repair.followUp);
  if (repair.repairBuffer != nullptr) ReleaseMemory(repair.repairBuffer);
  if (repair.brokenBuffer != nullptr) ReleaseMemory(repair.brokenBuffer);
  if (repair.regions != nullptr) ReleaseMemory(repair.regions);
}

// The follow-up test file for the regions that differ, from the image read back (zero-padded
// to whole blocks): every region is 1 MiB below 4 GiB, so a record fits on the stack.
Outcome WriteFollowUp(Repair& repair, const Reporter& reporter, const char* brokenFilePath, const char* followUpFolder,
                      uint32_t validSize, const std::vector<uint32_t>& differing, Outcome* result) {
  char folder[kPathBufferSize] = {};
  if (!PutPathIntoBuffer(folder, followUpFolder != nullptr ? followUpFolder : brokenFilePath)) {
    return StoppedAt(reporter, Step::CreateFollowUp);
  }
  if (followUpFolder == nullptr) StripLastComponent(folder, kPathBufferSize);
  repair.followUp = CreateOutputNamedAfter(folder, brokenFilePath, ".crc");
  if (repair.followUp == nullptr) return StoppedAt(reporter, Step::CreateFollowUp);
  const FollowUpLayout layout = FollowUpLayoutFor(validSize, differing.size());
  uint8_t record[4 + 8 * (kSmallestRegion / kBlockSize)];
  StoreFollowUpHeader(record, validSize, static_cast<uint32_t>(differing.size()));
  Hash128Stream check;
  check.Add(record, kFollowUpHeaderBytes);
  if (!WriteWhole(repair.followUp, record, kFollowUpHeaderBytes)) return StoppedAt(reporter, Step::WriteFollowUp);
  for (const uint32_t region : differing) {
    const uint64_t firstBlock = uint64_t{region} * layout.BlocksPerRecord();
    const uint64_t blocks = BlockCount(validSize) - firstBlock < layout.BlocksPerRecord() ? BlockCount(validSize) - firstBlock
                                                                                        : layout.BlocksPerRecord();
    std::memset(record, 0, sizeof record);
    StoreU32LE(record, region);
    StoreBlockHashes(record + 4, repair.brokenBuffer + firstBlock * kBlockSize, static_cast<uint32_t>(blocks));
    check.Add(record, sizeof record);
    if (!WriteWhole(repair.followUp, record, sizeof record)) return StoppedAt(reporter, Step::WriteFollowUp);
  }
  StoreHash128(record, check.Digest());
  if (!WriteWhole(repair.followUp, record, kFollowUpCheckBytes) || !FlushFile(repair.followUp)) {
    return StoppedAt(reporter, Step::WriteFollowUp);
  }
  const int closed = CloseFile(repair.followUp);
  repair.followUp = nullptr;
  if (!closed) return StoppedAt(reporter, Step::WriteFollowUp);
  // The dialog's output names are built in its path buffer; the follow-up's is the same.
  char path[kPathBufferSize] = {};
  PutPathIntoBuffer(path, folder);
  BuildOutputPath(path, brokenFilePath, ".crc");
  result->followUpPath = path;
  result->followUpBytes = FollowUpLength(layout);
  result->ending = Ending::Differs;
  if (reporter.report != nullptr) reporter.report(reporter.context, *result);
  return *result;
}

// Whether the broken file's image (brokenSize bytes read, zeros behind) is the file the repair
// file's record describes, or that file partly repaired: Done, or OtherFile with where not.
Outcome CheckOrigin(const Repair& repair, const Reporter& reporter, const uint8_t* part, const FingerprintPart& header,
                    const RepairFileLayout& layout, uint32_t brokenSize) {
  const RepairOrigin& origin = header.origin;
  CheckRefusal why;
  why.brokenSize = brokenSize;
  why.recordedSize = origin.recordedSize;
  if (!OriginSizeFits(origin, brokenSize, layout.validSize)) {
    why.finding = CheckFinding::SizeDiffers;
    return ReportOtherFile(reporter, why);
  }
  const auto held = [&](uint64_t b) {
    const uint64_t start = (b - 1) * kBlockSize;
    return brokenSize > start ? static_cast<uint32_t>(std::min<uint64_t>(brokenSize - start, kBlockSize)) : 0u;
  };
  OriginCheck check;
  const uint8_t* samples = part + OriginSamplesAt(header);
  for (uint32_t i = 0; i < origin.samples; ++i) {
    const uint32_t b = LoadU32LE(samples + kOriginSampleBytes * i);
    const uint8_t* bytes = repair.brokenBuffer + uint64_t{b - 1} * kBlockSize;
    check.Sample(b, HoldsRecorded(origin, b, bytes, held(b), LoadU32LE(samples + kOriginSampleBytes * i + 4)));
  }
  const uint8_t* values = part + OriginValuesAt(header);
  for (uint32_t j = 0; j < layout.damagedCount; ++j) {
    const uint32_t b = LoadU32LE(repair.repairBuffer + layout.BlockNumbersAt() + 4 * uint64_t{j});
    const uint8_t* bytes = repair.brokenBuffer + uint64_t{b - 1} * kBlockSize;
    const uint8_t* block = repair.repairBuffer + layout.RepairBlocksAt() + uint64_t{j} * kBlockSize;
    check.Carried(b, HoldsRecorded(origin, b, bytes, held(b), LoadU32LE(values + 4 * uint64_t{j})),
                  HoldsRepairBlock(b, layout.validSize, bytes, held(b), block));
  }
  if (check.Holds()) return DoneOutcome();
  why.finding = CheckFinding::BlockDiffers;
  why.block = check.FailedAt();
  why.first = (why.block - 1) * kBlockSize;
  why.last = why.first + BlockBytesInFile(why.block, layout.validSize) - 1;
  return ReportOtherFile(reporter, why);
}

Outcome Apply(Repair& repair, const Reporter& reporter, const char* brokenFilePath, const char* repairFilePath,
              const char* followUpFolder) {
  repair.brokenFile = OpenInputByPath(brokenFilePath);
  if (repair.brokenFile == nullptr) return StoppedAt(reporter, Step::OpenBroken);
  repair.repairFile = OpenInputByPath(repairFilePath);
  if (repair.repairFile == nullptr) return StoppedAt(reporter, Step::OpenRepair);

  uint32_t brokenSize;
  if (!GetFileSize32(repair.brokenFile, &brokenSize)) return StoppedAt(reporter, Step::SizeBroken);
  uint32_t repairSize;
  if (!GetFileSize32(repair.repairFile, &repairSize)) return StoppedAt(reporter, Step::SizeRepair);

  // An empty repair file asks for 0 bytes here, which the platform refuses.
  repair.repairBuffer = static_cast<uint8_t*>(CommitMemory(repairSize));
  if (repair.repairBuffer == nullptr) return StoppedAt(reporter, Step::CommitRepairBuffer);
  if (!ReadWhole(repair.repairFile, repair.repairBuffer, repairSize)) return StoppedAt(reporter, Step::ReadRepair);
  // The header must be there before its fields are read.
  if (repairSize < kRepairFileHeaderBytes) return Refused(reporter, Step::CheckRepairFile);
  switch (ReadExchangeFileKind(repair.repairBuffer, repairSize)) {
    case ExchangeFileKind::Plain:
    case ExchangeFileKind::FollowUpTestFile:  // no repair file: its header fails the check below
      break;
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::FolderFollowUp:
    case ExchangeFileKind::FolderRepairFile:
      return Refused(reporter, Step::CheckRepairFileForFolder);
  }

  const RepairFileLayout layout = ReadSmallRepairFileHeader(repair.repairBuffer);
  const uint32_t validSize = static_cast<uint32_t>(layout.validSize);
  const uint32_t blocks = BlockCount(validSize);
  const uint32_t brokenBufferBytes = ImageBytes(validSize);
  // A valid size of 0 asks for 0 bytes here, which the platform refuses.
  repair.brokenBuffer = static_cast<uint8_t*>(CommitMemory(brokenBufferBytes));
  if (repair.brokenBuffer == nullptr) return StoppedAt(reporter, Step::CommitBrokenBuffer);

  // Every entry must lie inside the repair file and name a block of the buffer, or the copy
  // below would read or write outside them; checked before anything is touched.
  if (!RepairFileFits(repair.repairBuffer, repairSize, blocks)) return Refused(reporter, Step::CheckRepairFile);

  if (!BrokenFileFits(brokenSize, validSize)) {
    return StoppedAt(reporter, Step::ReadBroken, SystemErrorCode(SystemErrorKind::FileTooLarge));
  }
  // The bytes behind the last block: no fingerprint, or one that holds.
  const uint8_t* part = repair.repairBuffer + layout.BlocksEnd();
  FingerprintPart header;
  const FingerprintVerdict verdict =
      ReadFingerprintHeader(part, repairSize - layout.BlocksEnd(), validSize, layout.damagedCount, &header);
  if (verdict == FingerprintVerdict::Damaged || (verdict == FingerprintVerdict::Read && !FingerprintPartHolds(part, header))) {
    return Refused(reporter, Step::CheckFingerprint);
  }
  const bool verify = verdict == FingerprintVerdict::Read;
  if (verify) {
    repair.regions = static_cast<Hash128*>(CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * header.regionCount)));
    if (repair.regions == nullptr) return StoppedAt(reporter, Step::AllocateReadBack);
  }
  if (!ReadWhole(repair.brokenFile, repair.brokenBuffer, brokenSize)) return StoppedAt(reporter, Step::ReadBroken);
  if (verify && header.hasOrigin) {
    Outcome checked = CheckOrigin(repair, reporter, part, header, layout, brokenSize);
    if (checked.ending != Ending::Done) return checked;
  }

  // In list order, so a block listed twice ends up with the later of its blocks.
  const uint8_t* blockNumbers = repair.repairBuffer + layout.BlockNumbersAt();
  const uint8_t* repairBlocks = repair.repairBuffer + layout.RepairBlocksAt();
  for (uint32_t j = 0; j < layout.damagedCount; ++j) {
    const uint32_t blockNumber = LoadU32LE(blockNumbers + 4 * uint64_t{j});
    std::memcpy(repair.brokenBuffer + uint64_t{blockNumber - 1} * kBlockSize, repairBlocks + uint64_t{j} * kBlockSize,
                kBlockSize);
  }

  // A write from anywhere but the start would leave the old contents and append the new;
  // nothing has been written yet, so stopping here leaves the broken file as it was.
  if (!SeekToStart(repair.brokenFile)) return StoppedAt(reporter, Step::WriteRepaired);
  if (!WriteWhole(repair.brokenFile, repair.brokenBuffer, validSize)) return StoppedAt(reporter, Step::WriteRepaired);
  // Bytes behind the valid size belong to no block of the valid file.
  if (brokenSize > validSize && !SetFileLength(repair.brokenFile, validSize)) {
    return StoppedAt(reporter, Step::WriteRepaired);
  }
  // Done only once the rewritten file is on its device; a late failure shows at the close.
  if (!FlushFile(repair.brokenFile)) return StoppedAt(reporter, Step::WriteRepaired);
  // What the device gives back, not what was meant to be written, is compared.
  if (verify && (!SeekToStart(repair.brokenFile) || !ReadWhole(repair.brokenFile, repair.brokenBuffer, validSize))) {
    return StoppedAt(reporter, Step::ReadBack);
  }
  // Behind the valid size the buffer still holds a longer broken file's tail; the image read
  // back is padded with zero bytes, as the follow-up's last block is everywhere.
  if (verify) std::memset(repair.brokenBuffer + validSize, 0, brokenBufferBytes - validSize);
  const int closed = CloseFile(repair.brokenFile);
  repair.brokenFile = nullptr;
  if (!closed) return StoppedAt(reporter, Step::WriteRepaired);
  Outcome done = DoneOutcome();
  done.validSize = validSize;
  if (!verify) return done;
  done.fingerprinted = true;
  done.fingerprint = header.whole;
  Fingerprinter print(validSize, repair.regions);
  print.Add(repair.brokenBuffer, validSize);
  std::vector<uint32_t> differing;
  done.verification = CompareWithFingerprint(part, header, validSize, print.Whole(), repair.regions, &differing);
  if (done.verification == Verification::Verified) return done;
  done.differing = RegionRanges(differing, header.regionSize, validSize);
  return WriteFollowUp(repair, reporter, brokenFilePath, followUpFolder, validSize, differing, &done);
}

}  // namespace

Outcome RepairBrokenFile(const Reporter& reporter, const char* brokenFilePath, const char* repairFilePath,
                         const char* followUpFolder) {
  Repair repair;
  Outcome result = Apply(repair, reporter, brokenFilePath, repairFilePath, followUpFolder);
  Release(repair);
  return result;
}
