// Broken-file repair: puts the repair file's blocks in place and rewrites the broken file with
// exactly the valid size.
#include <cstdint>
#include <cstring>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/repair_file.h"
#include "platform/platform.h"
#include "support/files_by_path.h"
#include "whole_file/operations.h"
#include "whole_file/stops.h"

namespace {

// What one call holds; null until obtained.
struct Repair {
  FileHandle brokenFile = nullptr;
  FileHandle repairFile = nullptr;
  uint8_t* repairBuffer = nullptr;
  uint8_t* brokenBuffer = nullptr;
};

void Release(Repair& repair) {
  if (repair.brokenFile != nullptr) CloseFile(repair.brokenFile);
  if (repair.repairFile != nullptr) CloseFile(repair.repairFile);
  if (repair.repairBuffer != nullptr) ReleaseMemory(repair.repairBuffer);
  if (repair.brokenBuffer != nullptr) ReleaseMemory(repair.brokenBuffer);
}

Outcome Apply(Repair& repair, const Reporter& reporter, const char* brokenFilePath, const char* repairFilePath) {
  repair.brokenFile = OpenInputByPath(brokenFilePath);
  if (repair.brokenFile == nullptr) return StopAt(reporter, Step::OpenBroken);
  repair.repairFile = OpenInputByPath(repairFilePath);
  if (repair.repairFile == nullptr) return StopAt(reporter, Step::OpenRepair);

  uint32_t brokenSize;
  if (!GetFileSize32(repair.brokenFile, &brokenSize)) return StopAt(reporter, Step::SizeBroken);
  uint32_t repairSize;
  if (!GetFileSize32(repair.repairFile, &repairSize)) return StopAt(reporter, Step::SizeRepair);

  // An empty repair file asks for 0 bytes here, which the platform refuses.
  repair.repairBuffer = static_cast<uint8_t*>(CommitMemory(repairSize));
  if (repair.repairBuffer == nullptr) return StopAt(reporter, Step::CommitRepairBuffer);
  if (!ReadWhole(repair.repairFile, repair.repairBuffer, repairSize)) return StopAt(reporter, Step::ReadRepair);
  // The header must be there before its fields are read.
  if (repairSize < kRepairFileHeaderBytes) return StopFound(reporter, Step::CheckRepairFile);
  if (IsFolderExchangeFile(repair.repairBuffer, repairSize)) return StopFound(reporter, Step::CheckRepairFileForFolder);

  const RepairFileLayout layout = ReadSmallRepairFileHeader(repair.repairBuffer);
  const uint32_t validSize = static_cast<uint32_t>(layout.validSize);
  const uint32_t blocks = BlockCount(validSize);
  const uint32_t brokenBufferBytes = ImageBytes(validSize);
  // A valid size of 0 asks for 0 bytes here, which the platform refuses.
  repair.brokenBuffer = static_cast<uint8_t*>(CommitMemory(brokenBufferBytes));
  if (repair.brokenBuffer == nullptr) return StopAt(reporter, Step::CommitBrokenBuffer);

  // Every entry must lie inside the repair file and name a block of the buffer, or the copy
  // below would read or write outside them; checked before anything is touched.
  if (!RepairFileFits(repair.repairBuffer, repairSize, blocks)) return StopFound(reporter, Step::CheckRepairFile);

  if (!BrokenFileFits(brokenSize, validSize)) {
    return StopAt(reporter, Step::ReadBroken, SystemErrorCode(SystemErrorKind::FileTooLarge));
  }
  if (!ReadWhole(repair.brokenFile, repair.brokenBuffer, brokenSize)) return StopAt(reporter, Step::ReadBroken);

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
  if (!SeekToStart(repair.brokenFile)) return StopAt(reporter, Step::WriteRepaired);
  if (!WriteWhole(repair.brokenFile, repair.brokenBuffer, validSize)) return StopAt(reporter, Step::WriteRepaired);
  // Bytes behind the valid size belong to no block of the valid file.
  if (brokenSize > validSize && !SetFileLength(repair.brokenFile, validSize)) {
    return StopAt(reporter, Step::WriteRepaired);
  }
  // Done only once the rewritten file is on its device; a late failure shows at the close.
  if (!FlushFile(repair.brokenFile)) return StopAt(reporter, Step::WriteRepaired);
  const int closed = CloseFile(repair.brokenFile);
  repair.brokenFile = nullptr;
  if (!closed) return StopAt(reporter, Step::WriteRepaired);
  Outcome done = DoneOutcome();
  done.validSize = validSize;
  return done;
}

}  // namespace

Outcome RepairBrokenFile(const Reporter& reporter, const char* brokenFilePath, const char* repairFilePath) {
  Repair repair;
  Outcome result = Apply(repair, reporter, brokenFilePath, repairFilePath);
  Release(repair);
  return result;
}
