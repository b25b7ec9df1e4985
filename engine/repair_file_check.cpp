// Validation of a repair file before anything is copied or written: a damaged or foreign
// repair file must never reach the broken file.
#include <cstdint>

#include "engine/byte_order.h"
#include "engine/file_formats.h"

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
