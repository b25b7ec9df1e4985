// Streaming broken-file repair: checks the repair file's header, whole list and fingerprint
// first, then writes each carried block at its place (the last one only up to the valid size),
// sets the broken file's length to the valid size and flushes it. Only the carried blocks are
// written, so applying the same repair file again changes nothing more, and a repair cut short
// is finished by running it again. With a fingerprint, the file is then read back and compared
// with it; where it still differs, a follow-up test file is written for those regions.
#include <cstdint>
#include <new>
#include <vector>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "support/files_by_path.h"
#include "core/repair_file.h"
#include "stream/broken_file_check.h"
#include "stream/fingerprint_check.h"
#include "stream/follow_up.h"
#include "stream/operations.h"
#include "stream/steps.h"
#include "support/path_buffer.h"
#include "support/strip_last_component.h"

namespace {

// What one call holds; null until obtained.
struct Repair {
  FileHandle brokenFile = nullptr;
  FileHandle repairFile = nullptr;
  uint8_t* slice = nullptr;
  uint8_t* entries = nullptr;
  uint8_t* part = nullptr;
  ReadBackBuffers readBack;
  bool brokenFileChanged = false;
};

void Release(Repair& repair) {
  if (repair.brokenFile != nullptr) CloseFile(repair.brokenFile);
  if (repair.repairFile != nullptr) CloseFile(repair.repairFile);
  if (repair.slice != nullptr) ReleaseMemory(repair.slice);
  if (repair.entries != nullptr) ReleaseMemory(repair.entries);
  if (repair.part != nullptr) ReleaseMemory(repair.part);
  ReleaseReadBack(&repair.readBack);
}

Outcome RefuseRepairFile(const RepairFileLayout& layout) {
  switch (layout.form) {
    case RepairFileForm::Small: return Refused(Step::CheckRepairFile);
    case RepairFileForm::Large: return Refused(Step::CheckLargeRepairFile);
  }
  return Refused(Step::CheckRepairFile);
}

// Reads the K block numbers into list, each checked to name a block of the valid file.
Outcome ReadBlockList(Repair& repair, const RepairFileLayout& layout, std::vector<uint32_t>* list) {
  // The count has been checked against the file's length, so this much memory is real.
  try {
    list->reserve(layout.damagedCount);
  } catch (const std::bad_alloc&) {
    return StoppedAt(Step::CommitRepairBuffer, SystemErrorKind::NotEnoughMemory);
  }
  const uint64_t blocks = BlockCount64(layout.validSize);
  for (uint32_t j = 0; j < layout.damagedCount;) {
    const uint32_t count = layout.damagedCount - j < kStreamBufferBlocks ? layout.damagedCount - j : kStreamBufferBlocks;
    if (!ReadAt(repair.repairFile, layout.BlockNumbersAt() + 4 * uint64_t{j}, repair.slice, 4 * count)) {
      return StoppedAt(Step::ReadRepair);
    }
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t number = LoadU32LE(repair.slice + 4 * i);
      if (!BlockNumberFits(number, blocks)) return RefuseRepairFile(layout);
      list->push_back(number);
    }
    j += count;
  }
  return DoneOutcome();
}

Outcome Stop(Repair& repair, Step step) {
  Outcome result = StoppedAt(step);
  result.brokenFileChanged = repair.brokenFileChanged;
  return result;
}

// Puts the blocks in place in list order, so a block listed twice ends up with the later of
// its blocks; the repair blocks are read a slice at a time.
Outcome PutBlocksInPlace(Repair& repair, const RepairFileLayout& layout, const std::vector<uint32_t>& list,
                              Progress& progress) {
  const uint32_t count = static_cast<uint32_t>(list.size());
  for (uint32_t j = 0; j < count;) {
    const uint32_t run = count - j < kStreamBufferBlocks ? count - j : kStreamBufferBlocks;
    if (!ReadAt(repair.repairFile, layout.RepairBlocksAt() + uint64_t{j} * kBlockSize, repair.slice, run * kBlockSize)) {
      return Stop(repair, Step::ReadRepair);
    }
    for (uint32_t i = 0; i < run; ++i) {
      if (progress.StopRequested()) return CancelledOutcome(repair.brokenFileChanged);
      const uint64_t at = uint64_t{list[j + i] - 1} * kBlockSize;
      repair.brokenFileChanged = true;
      if (!WriteAt(repair.brokenFile, at, repair.slice + uint64_t{i} * kBlockSize,
                   BlockBytesInFile(list[j + i], layout.validSize))) {
        return Stop(repair, Step::WriteRepaired);
      }
      progress.Advance(kBlockSize);
    }
    j += run;
  }
  return DoneOutcome();
}

// Compares the repaired file, still open, with the fingerprint, and writes the follow-up where
// it differs.
Outcome Verify(Repair& repair, const char* brokenFilePath, const FingerprintPart& header, const RepairOptions& options,
               int (*nameOutput)(char*, const char*, const char*), Progress& progress) {
  std::vector<uint32_t> differing;
  Outcome compared = ReadBackAndCompare(repair.brokenFile, header.validSize, repair.part, header, repair.readBack,
                                        progress, &differing);
  if (compared.ending != Ending::Done) {
    compared.brokenFileChanged = true;
    return compared;
  }
  if (compared.verification == Verification::Verified) return compared;
  // Beside the broken file unless the caller names a folder.
  char folder[kPathBufferSize] = {};
  Outcome followUp;
  if (!PutPathIntoBuffer(folder, options.followUpFolder != nullptr ? options.followUpFolder : brokenFilePath)) {
    followUp = StoppedAt(Step::CreateFollowUp);
  } else {
    if (options.followUpFolder == nullptr) StripLastComponent(folder, kPathBufferSize);
    // A bare name is in the current folder; a name right under the root, in the root.
    if (folder[0] == '\0') folder[0] = brokenFilePath[0] == kPathSeparator ? kPathSeparator : '.';
    followUp = WriteFollowUp(repair.brokenFile, header.validSize, differing, folder, brokenFilePath, nameOutput, repair.slice,
                             repair.entries, progress);
  }
  followUp.verification = compared.verification;
  followUp.differing = std::move(compared.differing);
  followUp.fingerprinted = true;
  followUp.fingerprint = compared.fingerprint;
  followUp.brokenFileChanged = true;
  if (followUp.ending == Ending::Done) followUp.ending = Ending::Differs;
  return followUp;
}

Outcome Apply(Repair& repair, const char* brokenFilePath, const char* repairFilePath, const RepairOptions& options,
              const StreamControl& control) {
  const char* checkFilePath = options.checkFilePath;
  // With a check, the broken file is one of the two files it compares: one that cannot be
  // opened or measured fails the check, before anything is written.
  const auto brokenFileStop = [&](Step step) {
    return checkFilePath != nullptr ? CheckCouldNotRead(step) : StoppedAt(step);
  };
  repair.brokenFile = OpenInputByPath(brokenFilePath);
  if (repair.brokenFile == nullptr) return brokenFileStop(Step::OpenBroken);
  repair.repairFile = OpenInputByPath(repairFilePath);
  if (repair.repairFile == nullptr) return StoppedAt(Step::OpenRepair);
  uint64_t brokenSize;
  if (!GetFileSize64(repair.brokenFile, &brokenSize)) return brokenFileStop(Step::SizeBroken);
  uint64_t repairSize;
  if (!GetFileSize64(repair.repairFile, &repairSize)) return StoppedAt(Step::SizeRepair);
  // The dialog's buffer for an empty repair file is a request for 0 bytes, refused as such.
  if (repairSize == 0) return StoppedAt(Step::CommitRepairBuffer, SystemErrorKind::InvalidParameter);

  repair.slice = static_cast<uint8_t*>(CommitMemory(kStreamBufferBytes));
  if (repair.slice == nullptr) return StoppedAt(Step::CommitRepairBuffer);
  uint8_t start[kLongestRepairFileHeader] = {};
  const uint32_t startBytes = repairSize < sizeof start ? static_cast<uint32_t>(repairSize) : sizeof start;
  if (!ReadAt(repair.repairFile, 0, start, startBytes)) return StoppedAt(Step::ReadRepair);
  switch (ReadExchangeFileKind(start, repairSize)) {
    case ExchangeFileKind::Plain:
    case ExchangeFileKind::FollowUpTestFile:  // no repair file: its header fails the check below
      break;
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::FolderRepairFile:
      return Refused(Step::CheckRepairFileForFolder);
  }
  RepairFileLayout layout;
  const RepairFileVerdict verdict = ReadRepairFileLayout(start, repairSize, &layout);
  if (verdict != RepairFileVerdict::Read) return RefuseRepairFile(layout);

  std::vector<uint32_t> list;
  Outcome listed = ReadBlockList(repair, layout, &list);
  if (listed.ending != Ending::Done) return listed;
  if (!BrokenFileFits(brokenSize, layout.validSize)) {
    return StoppedAt(Step::ReadBroken, SystemErrorKind::FileTooLarge);
  }
  FingerprintPart header;
  Outcome fingerprinted = ReadFingerprint(repair.repairFile, repairSize, layout, &repair.part, &header);
  if (fingerprinted.ending != Ending::Done) return fingerprinted;
  // Everything the check needs is had before the first write, so that a repair never stops
  // half done for want of it.
  const bool verify = repair.part != nullptr && options.verify;
  if (verify && !AcquireReadBack(&repair.readBack, header)) return StoppedAt(Step::AllocateReadBack);

  // The whole work is known before it starts, so the percentage only rises; the follow-up,
  // when there is one, is short and not counted.
  Progress progress(control, uint64_t{layout.damagedCount} * kBlockSize + (checkFilePath != nullptr ? brokenSize : 0) +
                                 (verify ? layout.validSize : 0));
  if (checkFilePath != nullptr || verify) {
    // The check's entries, and the follow-up's block hashes.
    repair.entries = static_cast<uint8_t*>(CommitMemory(8 * kStreamBufferBlocks));
    if (repair.entries == nullptr) {
      return StoppedAt(checkFilePath != nullptr ? Step::CommitBrokenBuffer : Step::AllocateReadBack);
    }
  }
  if (checkFilePath != nullptr) {
    Outcome checked = CheckBrokenFile(repair.brokenFile, brokenSize, checkFilePath, repair.slice, repair.entries, progress);
    if (checked.ending != Ending::Done) return checked;
  }
  if (progress.StopRequested()) return CancelledOutcome(false);

  Outcome placed = PutBlocksInPlace(repair, layout, list, progress);
  if (placed.ending != Ending::Done) return placed;
  // Zero bytes where the file grows, as the dialog's buffer has them; a longer file is cut.
  if (brokenSize != layout.validSize) repair.brokenFileChanged = true;
  if (!SetFileLength(repair.brokenFile, layout.validSize)) return Stop(repair, Step::WriteRepaired);
  if (!FlushFile(repair.brokenFile)) return Stop(repair, Step::WriteRepaired);

  Outcome result = DoneOutcome();
  if (verify) result = Verify(repair, brokenFilePath, header, options, control.nameOutput, progress);
  if (result.ending != Ending::Done && result.ending != Ending::Differs) return result;
  if (repair.part != nullptr && !verify) result.verification = Verification::Skipped;
  const int closed = CloseFile(repair.brokenFile);
  repair.brokenFile = nullptr;
  if (!closed) return Stop(repair, Step::WriteRepaired);
  result.fingerprinted = repair.part != nullptr;
  result.fingerprint = header.whole;
  result.validSize = layout.validSize;
  result.blocks = std::move(list);
  return result;
}

}  // namespace

Outcome StreamRepairBrokenFile(const char* brokenFilePath, const char* repairFilePath, const RepairOptions& options,
                               const StreamControl& control) {
  Repair repair;
  const HeldFileWaits waits(control.stop);
  Outcome result = Apply(repair, brokenFilePath, repairFilePath, options, control);
  Release(repair);
  return result;
}
