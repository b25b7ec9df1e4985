// Broken-file repair: puts the repair file's blocks in place and rewrites the broken file with
// exactly the valid size.
#include <cstdint>
#include <cstring>

#include "engine/block.h"
#include "engine/byte_order.h"
#include "formats/repair_file.h"
#include "engine/messages.h"
#include "engine/operations.h"
#include "engine/steps.h"

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

int RefuseRepairFile(WindowHandle owner) {
  return StopWithMessage(owner, message::kRepairFileDamaged, message::kUnforeseen, kBoxIconError);
}

int Apply(Repair& repair, WindowHandle owner, const char* brokenFilePath, const char* repairFilePath) {
  repair.brokenFile = OpenInputByPath(brokenFilePath);
  if (repair.brokenFile == nullptr) return StopWithSystemError(owner, message::kOpenBroken);
  repair.repairFile = OpenInputByPath(repairFilePath);
  if (repair.repairFile == nullptr) return StopWithSystemError(owner, message::kOpenRepair);

  uint32_t brokenSize;
  if (!GetFileSize32(repair.brokenFile, &brokenSize)) return StopWithSystemError(owner, message::kSizeBroken);
  uint32_t repairSize;
  if (!GetFileSize32(repair.repairFile, &repairSize)) return StopWithSystemError(owner, message::kSizeRepair);

  // An empty repair file asks for 0 bytes here, which the platform refuses.
  repair.repairBuffer = static_cast<uint8_t*>(CommitMemory(repairSize));
  if (repair.repairBuffer == nullptr) return StopWithSystemError(owner, message::kCommitRepairBuffer);
  if (!ReadWhole(repair.repairFile, repair.repairBuffer, repairSize)) return StopWithSystemError(owner, message::kReadRepair);
  // The header must be there before its fields are read.
  if (repairSize < kRepairFileHeaderBytes) return RefuseRepairFile(owner);

  const uint32_t validSize = LoadU32LE(repair.repairBuffer);
  const uint32_t blocks = BlockCount(validSize);
  const uint32_t brokenBufferBytes = ImageBytes(validSize);
  // A valid size of 0 asks for 0 bytes here, which the platform refuses.
  repair.brokenBuffer = static_cast<uint8_t*>(CommitMemory(brokenBufferBytes));
  if (repair.brokenBuffer == nullptr) return StopWithSystemError(owner, message::kCommitBrokenBuffer);

  // Every entry must lie inside the repair file and name a block of the buffer, or the copy
  // below would read or write outside them; checked before anything is touched.
  if (!RepairFileFits(repair.repairBuffer, repairSize, blocks)) return RefuseRepairFile(owner);

  // A broken file longer than the buffer cannot be the damaged copy of this valid file.
  if (brokenSize > brokenBufferBytes) {
    SetLastSystemError(SystemErrorCode(SystemErrorKind::FileTooLarge));
    return StopWithSystemError(owner, message::kReadBroken);
  }
  if (!ReadWhole(repair.brokenFile, repair.brokenBuffer, brokenSize)) return StopWithSystemError(owner, message::kReadBroken);

  // In list order, so a block listed twice ends up with the later of its blocks.
  const uint32_t damagedCount = LoadU32LE(repair.repairBuffer + 4);
  const uint8_t* blockNumbers = repair.repairBuffer + kRepairFileHeaderBytes;
  const uint8_t* repairBlocks = blockNumbers + 4 * uint64_t{damagedCount};
  for (uint32_t j = 0; j < damagedCount; ++j) {
    const uint32_t blockNumber = LoadU32LE(blockNumbers + 4 * uint64_t{j});
    std::memcpy(repair.brokenBuffer + uint64_t{blockNumber - 1} * kBlockSize, repairBlocks + uint64_t{j} * kBlockSize,
                kBlockSize);
  }

  // A write from anywhere but the start would leave the old contents and append the new;
  // nothing has been written yet, so stopping here leaves the broken file as it was.
  if (!SeekToStart(repair.brokenFile)) return StopWithSystemError(owner, message::kWriteRepaired);
  if (!WriteWhole(repair.brokenFile, repair.brokenBuffer, validSize)) return StopWithSystemError(owner, message::kWriteRepaired);
  // Bytes behind the valid size belong to no block of the valid file.
  if (brokenSize > validSize && !SetFileLength(repair.brokenFile, validSize)) {
    return StopWithSystemError(owner, message::kWriteRepaired);
  }
  // Done only once the rewritten file is on its device; a late failure shows at the close.
  if (!FlushFile(repair.brokenFile)) return StopWithSystemError(owner, message::kWriteRepaired);
  const int closed = CloseFile(repair.brokenFile);
  repair.brokenFile = nullptr;
  if (!closed) return StopWithSystemError(owner, message::kWriteRepaired);
  return 1;
}

}  // namespace

int RepairBrokenFile(WindowHandle owner, const char* brokenFilePath, const char* repairFilePath) {
  Repair repair;
  const int result = Apply(repair, owner, brokenFilePath, repairFilePath);
  Release(repair);
  return result;
}
