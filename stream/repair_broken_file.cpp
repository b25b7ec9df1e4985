// Streaming broken-file repair: checks the repair file's header, whole list and fingerprint
// first, then writes each carried block that is not yet in place (the last one only up to the
// valid size), sets the broken file's length to the valid size and flushes it. Only carried
// blocks that differ are written, so applying the same repair file again writes nothing, and a
// repair cut short is finished by running it again. A repair file that records the broken
// file it was made for has that checked before the first write (the size, a sample of blocks
// and the carried ones); an earlier run's partial work passes it. With a fingerprint, the file is then read back and
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
#include "stream/exchange_file_identity.h"
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

// What one call holds, released as it goes; the waits first, which the files keep.
struct Repair {
  explicit Repair(const std::atomic<bool>* stop) : waits(stop) {}
  HeldFileWaits waits;
  File brokenFile;
  File repairFile;
  Memory slice;
  Memory brokenSlice;  // the broken file's blocks the record names, and those read back
  Memory entries;
  Memory part;
  OriginRecord record;
  ReadBackBuffers readBack;
  // Answering an asking repair file: the ring the broken file is read through, and the larger
  // test file.
  SliceRing ring;
  OutputFile output;
  bool brokenFileChanged = false;
  uint64_t blocksWritten = 0;
};

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
    return Stopped(Step::CommitRepairBuffer, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  const uint64_t blocks = BlockCount64(layout.validSize);
  for (uint32_t j = 0; j < layout.damagedCount;) {
    const uint32_t count = layout.damagedCount - j < kStreamBufferBlocks ? layout.damagedCount - j : kStreamBufferBlocks;
    if (const SystemError failed =
            ReadAt(repair.repairFile, layout.BlockNumbersAt() + 4 * uint64_t{j}, repair.slice.bytes(), 4 * count)) {
      return Stopped(Step::ReadRepair, failed);
    }
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t number = LoadU32LE(repair.slice.bytes() + 4 * i);
      if (!BlockNumberFits(number, blocks)) return RefuseRepairFile(layout);
      list->push_back(number);
    }
    j += count;
  }
  return DoneOutcome();
}

// Puts the blocks in place in list order, so a block listed twice ends up with the later of
// its blocks; the repair blocks are read a slice at a time. A block that already holds the
// valid bytes is not written: a repair file applied again changes nothing, not even the file's
// time.
Outcome PutBlocksInPlace(Repair& repair, const RepairFileLayout& layout, const std::vector<uint32_t>& list,
                         uint64_t brokenSize, Progress& progress) {
  const uint32_t count = static_cast<uint32_t>(list.size());
  for (uint32_t j = 0; j < count;) {
    const uint32_t run = count - j < kStreamBufferBlocks ? count - j : kStreamBufferBlocks;
    const uint64_t blocksAt = layout.RepairBlocksAt() + uint64_t{j} * kBlockSize;
    if (const SystemError failed = ReadAt(repair.repairFile, blocksAt, repair.slice.bytes(), run * kBlockSize)) {
      return Stopped(Step::ReadRepair, failed);
    }
    for (uint32_t i = 0; i < run; ++i) {
      if (progress.StopRequested()) return CancelledOutcome(repair.brokenFileChanged);
      const uint64_t at = uint64_t{list[j + i] - 1} * kBlockSize;
      const uint8_t* block = repair.slice.bytes() + uint64_t{i} * kBlockSize;
      const uint32_t bytes = BlockBytesInFile(list[j + i], layout.validSize);
      // Where the file has the block whole, its bytes say whether it is in place already.
      if (BlockBytesInFile(list[j + i], brokenSize) >= bytes) {
        if (const SystemError failed = ReadAt(repair.brokenFile, at, repair.brokenSlice.bytes(), bytes)) {
          return Stopped(Step::ReadBroken, failed);
        }
        if (std::memcmp(repair.brokenSlice.bytes(), block, bytes) == 0) {
          progress.Advance(kBlockSize);
          continue;
        }
      }
      repair.brokenFileChanged = true;
      if (const SystemError failed = WriteAt(repair.brokenFile, at, block, bytes)) return Stopped(Step::WriteRepaired, failed);
      ++repair.blocksWritten;
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
  if (const SystemError failed = GetFileSize64(repair.brokenFile, &size)) return Stopped(Step::ReadBack, failed);
  *same = size == layout.validSize;
  for (size_t j = 0; j < list.size() && *same;) {
    if (progress.StopRequested()) return CancelledOutcome(true);
    uint32_t run = 1;
    while (j + run < list.size() && run < kStreamBufferBlocks && list[j + run] == list[j] + run) ++run;
    const uint64_t start = uint64_t{list[j] - 1} * kBlockSize;
    const uint32_t present = static_cast<uint32_t>(std::min<uint64_t>(layout.validSize - start, uint64_t{run} * kBlockSize));
    if (const SystemError failed = ReadAt(repair.brokenFile, start, repair.brokenSlice.bytes(), present)) {
      return Stopped(Step::ReadBack, failed);
    }
    if (const SystemError failed =
            ReadAt(repair.repairFile, layout.RepairBlocksAt() + uint64_t{j} * kBlockSize, repair.slice.bytes(), present)) {
      return Stopped(Step::ReadRepair, failed);
    }
    *same = std::memcmp(repair.brokenSlice.bytes(), repair.slice.bytes(), present) == 0;
    progress.Advance(uint64_t{run} * kBlockSize);
    j += run;
  }
  return DoneOutcome();
}

// Where the files the broken side sends back go (a follow-up, a larger test file): the folder the
// caller names, or the broken file's own; refused when the path does not fit a path buffer.
SystemError FollowUpFolder(const char* brokenFilePath, const RepairOptions& options, char* folder) {
  const char* named = options.followUpFolder != nullptr ? options.followUpFolder : brokenFilePath;
  if (const SystemError failed = PutPathIntoBuffer(folder, named)) return failed;
  if (options.followUpFolder == nullptr) StripLastComponent(folder, kPathBufferSize);
  // A bare name is in the current folder; a name right under the root, in the root.
  if (folder[0] == '\0') folder[0] = brokenFilePath[0] == kPathSeparator ? kPathSeparator : '.';
  return SystemError{};
}

// An asking repair file: the compact test file sent did not decode. When the broken file still
// gives that test file, the larger one asked for (or the largest the budget allows) is written
// where a follow-up goes; the broken file is only read.
Outcome AnswerRequest(Repair& repair, const char* brokenFilePath, uint64_t brokenSize, uint64_t repairSize,
                      const RepairOptions& options, const StreamControl& control) {
  uint8_t bytes[kAskingRepairFileBytes];
  if (repairSize != sizeof bytes) return Refused(Step::CheckAskingRepairFile);
  if (const SystemError failed = ReadAt(repair.repairFile, 0, bytes, sizeof bytes)) return Stopped(Step::ReadRepair, failed);
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

  if (const SystemError failed = AcquireSlices(&repair.ring)) return Stopped(Step::CommitBrokenBuffer, failed);
  char folder[kPathBufferSize] = {};
  SystemError failed = FollowUpFolder(brokenFilePath, options, folder);
  if (!failed) {
    failed = CreateOutput(&repair.output, folder, brokenFilePath, repair.brokenFile, ".crc", control.nameOutput, &repair.waits);
  }
  if (failed) return Stopped(Step::CreateOutput, failed);
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
Outcome Verify(Repair& repair, const char* brokenFilePath, const FingerprintPart& header, const FollowedRepair& followed,
               const RepairOptions& options, OutputNamer nameOutput, const Hash128* predicted, Progress& progress) {
  std::vector<uint32_t> differing;
  Outcome compared;
  if (predicted != nullptr) {
    compared = DoneOutcome();
    compared.fingerprinted = true;
    compared.fingerprint = header.whole;
    compared.verification = CompareWithFingerprint(repair.part.bytes(), header, header.validSize, *predicted,
                                                   repair.readBack.Regions(), &differing);
    if (compared.verification == Verification::Differs) {
      compared.differing = RegionRanges(differing, header.regionSize, header.validSize);
    }
  } else {
    compared = ReadBackAndCompare(repair.brokenFile, header.validSize, repair.part.bytes(), header, repair.readBack, progress,
                                  &differing);
  }
  if (compared.ending != Ending::Done) return compared;
  if (compared.verification == Verification::Verified) return compared;
  char folder[kPathBufferSize] = {};
  Outcome followUp;
  if (const SystemError failed = FollowUpFolder(brokenFilePath, options, folder)) {
    followUp = Stopped(Step::CreateFollowUp, failed);
  } else {
    followUp = WriteFollowUp(repair.brokenFile, header.validSize, differing, &followed, folder, brokenFilePath, nameOutput,
                             repair.slice.bytes(), repair.entries.bytes(), progress);
  }
  followUp.verification = compared.verification;
  followUp.differing = std::move(compared.differing);
  followUp.fingerprinted = true;
  followUp.fingerprint = compared.fingerprint;
  if (followUp.ending == Ending::Done) followUp.ending = Ending::Differs;
  return followUp;
}

Outcome Apply(Repair& repair, const char* brokenFilePath, const char* repairFilePath, const RepairOptions& options,
              const StreamControl& control) {
  const char* checkFilePath = options.checkFilePath;
  // With a check, the broken file is one of the two files it compares: one that cannot be
  // opened or measured fails the check, before anything is written.
  const auto brokenFileStop = [&](Step step, SystemError failed) {
    return checkFilePath != nullptr ? CheckCouldNotRead(step, failed) : Stopped(step, failed);
  };
  if (const SystemError failed = OpenInputByPath(brokenFilePath, FileAccess::ReadWrite, &repair.waits, &repair.brokenFile)) {
    return brokenFileStop(Step::OpenBroken, failed);
  }
  if (const SystemError failed = OpenInputByPath(repairFilePath, FileAccess::ReadOnly, &repair.waits, &repair.repairFile)) {
    return Stopped(Step::OpenRepair, failed);
  }
  uint64_t brokenSize;
  if (const SystemError failed = GetFileSize64(repair.brokenFile, &brokenSize)) return brokenFileStop(Step::SizeBroken, failed);
  uint64_t repairSize;
  if (const SystemError failed = GetFileSize64(repair.repairFile, &repairSize)) return Stopped(Step::SizeRepair, failed);
  // An empty repair file is refused as a request for 0 bytes of memory, as it always was.
  if (repairSize == 0) return Stopped(Step::CommitRepairBuffer, ErrorOf(SystemErrorKind::InvalidParameter));

  if (const SystemError failed = CommitMemory(kStreamBufferBytes, &repair.slice)) {
    return Stopped(Step::CommitRepairBuffer, failed);
  }
  // An exchange file where the broken file goes, known by its structure, is refused as what it
  // is before anything is written.
  ExchangeFileRole brokenRole;
  if (const SystemError failed = FindExchangeFileRole(repair.brokenFile, brokenSize, repair.slice.bytes(), &brokenRole)) {
    return brokenFileStop(Step::ReadBroken, failed);
  }
  switch (brokenRole) {
    case ExchangeFileRole::TestFile: return Refused(Step::BrokenIsTestFile);
    case ExchangeFileRole::RepairFile: return Refused(Step::BrokenIsRepairFile);
    case ExchangeFileRole::None: break;
  }
  uint8_t start[kLongestRepairFileHeader] = {};
  const uint32_t startBytes = repairSize < sizeof start ? static_cast<uint32_t>(repairSize) : sizeof start;
  if (const SystemError failed = ReadAt(repair.repairFile, 0, start, startBytes)) return Stopped(Step::ReadRepair, failed);
  switch (ReadExchangeFileKind(start, repairSize)) {
    case ExchangeFileKind::Plain:
      break;
    case ExchangeFileKind::FollowUpTestFile:
    case ExchangeFileKind::CompactTestFile:
      return Refused(Step::RepairIsTestFile);
    case ExchangeFileKind::AskingRepairFile:
      return AnswerRequest(repair, brokenFilePath, brokenSize, repairSize, options, control);
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::CompactFolderTestFile:
    case ExchangeFileKind::FolderAskingFile:
    case ExchangeFileKind::FolderFollowUp:
    case ExchangeFileKind::FolderRepairFile:
      return Refused(Step::CheckRepairFileForFolder);
  }
  RepairFileLayout layout;
  const RepairFileVerdict verdict = ReadRepairFileLayout(start, repairSize, &layout);
  if (verdict != RepairFileVerdict::Read) {
    return LooksLikePlainTestFile(start, repairSize) ? Refused(Step::RepairIsTestFile) : RefuseRepairFile(layout);
  }

  std::vector<uint32_t> list;
  Outcome listed = ReadBlockList(repair, layout, &list);
  if (listed.ending != Ending::Done) return listed;
  FingerprintPart header;
  Outcome read = ReadFingerprint(repair.repairFile, repairSize, layout, &repair.part, &header, &repair.record);
  if (read.ending != Ending::Done) return read;
  // Everything the check needs is had before the first write, so that a repair never stops
  // half done for want of it.
  const bool fingerprinted = static_cast<bool>(repair.part);
  const bool verify = fingerprinted && options.verify;
  const bool recorded = fingerprinted && header.hasOrigin;
  // The ring reads the file back, or once through for the check.
  const Step readBackMemory = checkFilePath != nullptr ? Step::CommitBrokenBuffer : Step::AllocateReadBack;
  if (verify || checkFilePath != nullptr) {
    if (const SystemError failed = AcquireReadBack(&repair.readBack, header)) return Stopped(readBackMemory, failed);
  }
  // The blocks the record names, those read back, and those compared before they are written.
  if (const SystemError failed = CommitMemory(kStreamBufferBytes, &repair.brokenSlice)) {
    return Stopped(Step::CommitBrokenBuffer, failed);
  }
  if (checkFilePath != nullptr || verify) {
    // The follow-up's block hashes.
    if (const SystemError failed = CommitMemory(8 * kStreamBufferBlocks, &repair.entries)) return Stopped(readBackMemory, failed);
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
    coming.repairFile = &repair.repairFile;
    coming.layout = &layout;
    coming.list = &list;
    coming.header = fingerprinted ? &header : nullptr;
    coming.record = &repair.record;
    coming.regions = verify ? repair.readBack.Regions() : nullptr;
    coming.buffer = repair.slice.bytes();
    Outcome checked = CheckBrokenFile(repair.brokenFile, brokenSize, checkFilePath, coming, repair.readBack.ring, progress,
                                      &prediction);
    if (checked.ending != Ending::Done) return checked;
  }
  if (recorded && !prediction.originChecked) {
    const CarriedBlocks carried{&repair.repairFile, layout.RepairBlocksAt(), layout.validSize, &list, &repair.record.values,
                                repair.record.samples};
    Outcome checked =
        CheckOrigin(repair.brokenFile, brokenSize, carried, header.origin, repair.brokenSlice.bytes(), repair.slice.bytes());
    if (checked.ending != Ending::Done) return checked;
  }
  if (progress.StopRequested()) return CancelledOutcome(false);

  Outcome placed = PutBlocksInPlace(repair, layout, list, brokenSize, progress);
  if (placed.ending != Ending::Done) return placed;
  // Zero bytes where the file grows; a longer file is cut.
  if (brokenSize != layout.validSize) {
    repair.brokenFileChanged = true;
    if (const SystemError failed = SetFileLength(repair.brokenFile, layout.validSize)) return Stopped(Step::WriteRepaired, failed);
  }
  if (repair.brokenFileChanged) {
    if (const SystemError failed = FlushFile(repair.brokenFile)) return Stopped(Step::WriteRepaired, failed);
  }

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
    // The follow-up names this repair file (its part's check, its last bytes) and the test file
    // it answered, which the answer to the follow-up names in turn.
    FollowedRepair followed;
    followed.testFile = header.answers.testFile;
    uint8_t check[kFingerprintCheckBytes];
    if (const SystemError failed = ReadAt(repair.repairFile, repairSize - sizeof check, check, sizeof check)) {
      return Stopped(Step::ReadRepair, failed);
    }
    followed.repairFile = LoadHash128(check);
    result = Verify(repair, brokenFilePath, header, followed, options, control.nameOutput, same ? &prediction.whole : nullptr,
                    progress);
  }
  if (result.ending != Ending::Done && result.ending != Ending::Differs) return result;
  if (fingerprinted && !verify) result.verification = Verification::Skipped;
  if (const SystemError failed = repair.brokenFile.Close()) return Stopped(Step::WriteRepaired, failed);
  result.fingerprinted = fingerprinted;
  result.fingerprint = header.whole;
  result.validSize = layout.validSize;
  result.blocks = std::move(list);
  result.blocksWritten = repair.blocksWritten;
  return result;
}

}  // namespace

Outcome StreamRepairBrokenFile(const char* brokenFilePath, const char* repairFilePath, const RepairOptions& options,
                               const StreamControl& control) {
  Repair repair(control.stop);
  Outcome result = Apply(repair, brokenFilePath, repairFilePath, options, control);
  // Whatever the ending, whether the file was written to: after a stop, that the same repair
  // file finishes it.
  result.brokenFileChanged = result.brokenFileChanged || repair.brokenFileChanged;
  result.blocksWritten = repair.blocksWritten;
  return result;
}
