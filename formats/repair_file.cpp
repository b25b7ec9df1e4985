// Writing and checking the repair file's header, and the dialog's check of a whole file.
#include "formats/repair_file.h"

#include "engine/byte_order.h"
#include "formats/test_file.h"

uint32_t StoreRepairFileHeader(uint8_t* out, uint64_t validSize, uint32_t damagedCount) {
  if (validSize < kLargeFormSize) {
    StoreU32LE(out, static_cast<uint32_t>(validSize));
    StoreU32LE(out + 4, damagedCount);
    return kRepairFileHeaderBytes;
  }
  StoreU32LE(out, 0);
  StoreU32LE(out + 4, damagedCount);
  StoreU32LE(out + 8, static_cast<uint32_t>(validSize));
  StoreU32LE(out + 12, static_cast<uint32_t>(validSize >> 32));
  return kLargeRepairFileHeaderBytes;
}

RepairFileVerdict ReadRepairFileLayout(const uint8_t* start, uint64_t length, RepairFileLayout* layout) {
  *layout = RepairFileLayout{};
  if (length < kRepairFileHeaderBytes) return RepairFileVerdict::TooShort;
  layout->validSize = LoadU32LE(start);
  layout->damagedCount = LoadU32LE(start + 4);
  if (layout->validSize != 0) {
    if (length < layout->RepairBlocksAt() + uint64_t{kBlockSize} * layout->damagedCount) {
      return RepairFileVerdict::Incomplete;
    }
    return RepairFileVerdict::Read;
  }
  layout->large = true;
  layout->headerBytes = kLargeRepairFileHeaderBytes;
  if (length < kLargeRepairFileHeaderBytes) return RepairFileVerdict::LargeMalformed;
  layout->validSize = uint64_t{LoadU32LE(start + 8)} | uint64_t{LoadU32LE(start + 12)} << 32;
  if (layout->validSize < kLargeFormSize || layout->validSize > kLargestExchangedSize ||
      length < layout->RepairBlocksAt() + uint64_t{kBlockSize} * layout->damagedCount) {
    return RepairFileVerdict::LargeMalformed;
  }
  return RepairFileVerdict::Read;
}

int RepairFileFits(const uint8_t* repairFile, uint32_t length, uint32_t blockCount) {
  if (length < kRepairFileHeaderBytes) return 0;
  const uint32_t damagedCount = LoadU32LE(repairFile + 4);
  // 64-bit: K may be anything up to 0xFFFFFFFF.
  if (uint64_t{kRepairFileHeaderBytes} + uint64_t{kRepairEntryBytes} * damagedCount > length) return 0;
  for (uint32_t j = 0; j < damagedCount; ++j) {
    const uint32_t blockNumber = LoadU32LE(repairFile + kRepairFileHeaderBytes + 4 * j);
    if (blockNumber == 0 || blockNumber > blockCount) return 0;
  }
  return 1;
}
