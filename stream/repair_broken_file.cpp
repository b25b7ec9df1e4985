// Streaming broken-file repair: checks the repair file's header, whole list and fingerprint
// first, then writes each carried block at its place (the last one only up to the valid size),
// sets the broken file's length to the valid size and flushes it. Only the carried blocks are
// written, so applying the same repair file again changes nothing more, and a repair cut short
// is finished by running it again. A repair file that records the broken file it was made for
// has that checked before the first write (the size, a sample of blocks and the carried ones);
// an earlier run's partial work passes it. With a fingerprint, the file is then read back and
// compared with it; where it still differs, a follow-up test file is written for those regions.
// With a check file, one read of the broken file does the check, the record's check and the
// hashing of the file as it will be, and only the blocks written are read back.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "support/files_by_path.h"
#include "core/asking_repair_file.h"
#include "core/compact_test_file.h"
#include "core/repair_file.h"
#include "core/test_file.h"
#include "stream/broken_file_check.h"
#include "stream/fingerprint_check.h"
#include "stream/follow_up.h"
#include "stream/operations.h"
#include "stream/origin_check.h"
#include "stream/output_file.h"
#include "stream/test_file_writing.h"
#include "stream/steps.h"
#include "support/path_buffer.h"
#include "support/strip_last_component.h"

namespace {

// What one call holds; null until obtained.
struct Repair {
  FileHandle brokenFile = nullptr;
  FileHandle repairFile = nullptr;
  uint8_t* slice = nullptr;
  uint8_t* brokenSlice = nullptr;  // the broken file's blocks the record names, and those read back
  uint8_t* entries = nullptr;
  uint8_t* part = nullptr;
  OriginRecord record;
  ReadBackBuffers readBack;
  // Answering an asking repair file: the ring the broken file is read through, and the larger
  // test file.
  SliceRing ring;
  OutputFile output;
  bool brokenFileChanged = false;
};

void Release(Repair& repair) {
  if (repair.brokenFile != nullptr) CloseFile(repair.brokenFile);
  if (repair.repairFile != nullptr) CloseFile(repair.repairFile);
  if (repair.slice != nullptr) ReleaseMemory(repair.slice);
  if (repair.brokenSlice != nullptr) ReleaseMemory(repair.brokenSlice);
  if (repair.entries != nullptr) ReleaseMemory(repair.entries);
  if (repair.part != nullptr) ReleaseMemory(repair.part);
  ReleaseReadBack(&repair.readBack);
  AbandonOutput(&repair.output);
  ReleaseSlices(&repair.ring);
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

// Whether the blocks written read back as the repair file has them, and the file has the valid
// size: then the file is the one the check pass hashed. Reads only those blocks.
Outcome WrittenBlocksReadBack(Repair& repair, const RepairFileLayout& layout, const std::vector<uint32_t>& list,
                              Progress& progress, bool* same) {
  uint64_t size;
  if (!GetFileSize64(repair.brokenFile, &size)) return StoppedAt(Step::ReadBack);
  *same = size == layout.validSize;
  for (size_t j = 0; j < list.size() && *same;) {
    if (progress.StopRequested()) return CancelledOutcome(true);
    uint32_t run = 1;
    while (j + run < list.size() && run < kStreamBufferBlocks && list[j + run] == list[j] + run) ++run;
    const uint64_t start = uint64_t{list[j] - 1} * kBlockSize;
    const uint32_t present = static_cast<uint32_t>(std::min<uint64_t>(layout.validSize - start, uint64_t{run} * kBlockSize));
    if (!ReadAt(repair.brokenFile, start, repair.brokenSlice, present)) return StoppedAt(Step::ReadBack);
    if (!ReadAt(repair.repairFile, layout.RepairBlocksAt() + uint64_t{j} * kBlockSize, repair.slice, present)) {
      return StoppedAt(Step::ReadRepair);
    }
    *same = std::memcmp(repair.brokenSlice, repair.slice, present) == 0;
    progress.Advance(uint64_t{run} * kBlockSize);
    j += run;
  }
  return DoneOutcome();
}

// Where the files the broken side sends back go (a follow-up, a larger test file): the folder the
// caller names, or the broken file's own. False when the path does not fit a path buffer.
bool FollowUpFolder(const char* brokenFilePath, const RepairOptions& options, char* folder) {
  if (!PutPathIntoBuffer(folder, options.followUpFolder != nullptr ? options.followUpFolder : brokenFilePath)) return false;
  if (options.followUpFolder == nullptr) StripLastComponent(folder, kPathBufferSize);
  // A bare name is in the current folder; a name right under the root, in the root.
  if (folder[0] == '\0') folder[0] = brokenFilePath[0] == kPathSeparator ? kPathSeparator : '.';
  return true;
}

// An asking repair file: the compact test file sent did not decode. When the broken file still
// gives that test file, the larger one asked for (or the largest the budget allows) is written
// where a follow-up goes; the broken file is only read.
Outcome AnswerRequest(Repair& repair, const char* brokenFilePath, uint64_t brokenSize, uint64_t repairSize,
                      const RepairOptions& options, const StreamControl& control) {
  uint8_t bytes[kAskingRepairFileBytes];
  if (repairSize != sizeof bytes) return Refused(Step::CheckAskingRepairFile);
  if (!ReadAt(repair.repairFile, 0, bytes, sizeof bytes)) return StoppedAt(Step::ReadRepair);
  AskingRepairFile asking;
  if (!ReadAskingRepairFile(bytes, repairSize, &asking)) return Refused(Step::CheckAskingRepairFile);
  if (brokenSize != asking.brokenSize) {
    CheckRefusal why;
    why.finding = CheckFinding::SizeDiffers;
    why.brokenSize = brokenSize;
    why.recordedSize = asking.brokenSize;
    return OtherFileOutcome(why);
  }
  AnsweredTestFile answered;
  answered.symbols = static_cast<uint32_t>((asking.answeredLength - CompactTestFileLength(0)) / kCompactSymbolBytes);
  answered.length = asking.answeredLength;
  answered.check = asking.answeredCheck;
  const uint64_t asked = options.budget > 0 ? std::min(options.budget, asking.askedLength) : asking.askedLength;
  const uint32_t symbols = asked >= TestFileLength(brokenSize) ? 0 : CompactSymbolsForBudget(asked);
  if (symbols != 0 && symbols <= answered.symbols) return Refused(Step::CheckTestFileBudget);

  if (!AcquireSlices(&repair.ring)) return StoppedAt(Step::CommitBrokenBuffer);
  char folder[kPathBufferSize] = {};
  if (!FollowUpFolder(brokenFilePath, options, folder) ||
      !CreateOutput(&repair.output, folder, brokenFilePath, repair.brokenFile, ".crc", control.nameOutput)) {
    return StoppedAt(Step::CreateOutput);
  }
  Progress progress(control, brokenSize);
  uint64_t written = 0;
  Outcome wrote =
      WriteTestFileOf(repair.brokenFile, brokenSize, symbols, &answered, repair.output.file, repair.ring, progress, &written);
  if (wrote.ending != Ending::Done) return wrote;
  Outcome result = FinishOutput(&repair.output);
  if (result.ending != Ending::Done) return result;
  result.ending = Ending::MoreNeeded;
  result.outputBytes = written;
  return result;
}

// Compares the repaired file, still open, with the fingerprint, and writes the follow-up where
// it differs. predicted: the whole hash of the file as the check pass saw it will be (its region
// hashes in the read-back's regions), or null to read the whole file back.
Outcome Verify(Repair& repair, const char* brokenFilePath, const FingerprintPart& header, const RepairOptions& options,
               int (*nameOutput)(char*, const char*, const char*), const Hash128* predicted, Progress& progress) {
  std::vector<uint32_t> differing;
  Outcome compared;
  if (predicted != nullptr) {
    compared = DoneOutcome();
    compared.fingerprinted = true;
    compared.fingerprint = header.whole;
    compared.verification = CompareWithFingerprint(repair.part, header, header.validSize, *predicted,
                                                   repair.readBack.regions, &differing);
    if (compared.verification == Verification::Differs) {
      compared.differing = RegionRanges(differing, header.regionSize, header.validSize);
    }
  } else {
    compared = ReadBackAndCompare(repair.brokenFile, header.validSize, repair.part, header, repair.readBack, progress,
                                  &differing);
  }
  if (compared.ending != Ending::Done) {
    compared.brokenFileChanged = true;
    return compared;
  }
  if (compared.verification == Verification::Verified) return compared;
  char folder[kPathBufferSize] = {};
  Outcome followUp;
  if (!FollowUpFolder(brokenFilePath, options, folder)) {
    followUp = StoppedAt(Step::CreateFollowUp);
  } else {
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
    case ExchangeFileKind::CompactTestFile:
      break;
    case ExchangeFileKind::AskingRepairFile:
      return AnswerRequest(repair, brokenFilePath, brokenSize, repairSize, options, control);
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::FolderFollowUp:
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
  Outcome fingerprinted = ReadFingerprint(repair.repairFile, repairSize, layout, &repair.part, &header, &repair.record);
  if (fingerprinted.ending != Ending::Done) return fingerprinted;
  // Everything the check needs is had before the first write, so that a repair never stops
  // half done for want of it.
  const bool verify = repair.part != nullptr && options.verify;
  const bool recorded = repair.part != nullptr && header.hasOrigin;
  // The ring reads the file back, or once through for the check.
  if ((verify || checkFilePath != nullptr) && !AcquireReadBack(&repair.readBack, header)) {
    return StoppedAt(checkFilePath != nullptr ? Step::CommitBrokenBuffer : Step::AllocateReadBack);
  }
  if (recorded || (checkFilePath != nullptr && verify)) {
    repair.brokenSlice = static_cast<uint8_t*>(CommitMemory(kStreamBufferBytes));
    if (repair.brokenSlice == nullptr) return StoppedAt(Step::CommitBrokenBuffer);
  }
  if (checkFilePath != nullptr || verify) {
    // The follow-up's block hashes.
    repair.entries = static_cast<uint8_t*>(CommitMemory(8 * kStreamBufferBlocks));
    if (repair.entries == nullptr) {
      return StoppedAt(checkFilePath != nullptr ? Step::CommitBrokenBuffer : Step::AllocateReadBack);
    }
  }

  // The whole work is known before it starts, so the percentage only rises; the follow-up,
  // when there is one, is short and not counted. With a check the file is read once before the
  // writing and only the blocks written after it.
  const uint64_t blockBytes = uint64_t{layout.damagedCount} * kBlockSize;
  const bool mayPredict = checkFilePath != nullptr && verify && Ascending(list);
  Progress progress(control, blockBytes + (checkFilePath != nullptr ? std::max(brokenSize, mayPredict ? layout.validSize : 0) : 0) +
                                 (mayPredict ? blockBytes : verify ? layout.validSize : 0));
  Prediction prediction;
  if (checkFilePath != nullptr) {
    RepairToCome coming;
    coming.repairFile = repair.repairFile;
    coming.layout = &layout;
    coming.list = &list;
    coming.header = repair.part != nullptr ? &header : nullptr;
    coming.record = &repair.record;
    coming.regions = verify ? repair.readBack.regions : nullptr;
    coming.buffer = repair.slice;
    Outcome checked = CheckBrokenFile(repair.brokenFile, brokenSize, checkFilePath, coming, repair.readBack.ring, progress,
                                      &prediction);
    if (checked.ending != Ending::Done) return checked;
  }
  if (recorded && !prediction.originChecked) {
    const CarriedBlocks carried{repair.repairFile, layout.RepairBlocksAt(), layout.validSize, &list, &repair.record.values,
                                repair.record.samples};
    Outcome checked = CheckOrigin(repair.brokenFile, brokenSize, carried, header.origin, repair.brokenSlice, repair.slice);
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
  if (verify) {
    // What the device gives back of the blocks written; anything else is read back whole.
    bool same = false;
    if (prediction.made) {
      Outcome reread = WrittenBlocksReadBack(repair, layout, list, progress, &same);
      if (reread.ending != Ending::Done) {
        reread.brokenFileChanged = true;
        return reread;
      }
    }
    result = Verify(repair, brokenFilePath, header, options, control.nameOutput, same ? &prediction.whole : nullptr, progress);
  }
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
