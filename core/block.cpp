// Block count and block checksum.
#include "core/block.h"

#include <cstring>

#include "core/byte_order.h"

uint32_t BlockCount(uint32_t size) { return size / kBlockSize + (size % kBlockSize != 0 ? 1 : 0); }

uint32_t BlockChecksum(const uint8_t* block) {
  // Exclusive-or never carries between byte lanes, so folding the words in the machine's own
  // order puts byte j of every word into byte j of the accumulator, whatever the byte order.
  // The plain loop is what the compiler turns into wide vector instructions.
  uint32_t accumulator = 0;
  for (uint32_t offset = 0; offset < kBlockSize; offset += 4) {
    uint32_t word;
    std::memcpy(&word, block + offset, sizeof word);
    accumulator ^= word;
  }
  uint8_t bytes[4];
  std::memcpy(bytes, &accumulator, sizeof bytes);
  return LoadU32LE(bytes);
}
