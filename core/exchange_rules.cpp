// The exchange rules.
#include "core/exchange_rules.h"

#include <algorithm>
#include <cstring>

#include "core/block.h"

namespace {

uint64_t Max(uint64_t a, uint64_t b) { return a > b ? a : b; }

bool AllZero(const uint8_t* bytes, uint64_t count) {
  // Word at a time where the bytes allow; the tail byte by byte.
  uint64_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    if (word != 0) return false;
  }
  for (; i < count; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

}  // namespace

bool TestFileFitsValid(uint64_t entries, uint64_t validBlocks) { return entries <= validBlocks; }

uint64_t VouchedLength(const Exchange& exchange) { return std::min<uint64_t>(exchange.recordedSize, kBlockSize * exchange.entries); }

bool BlockMustTravel(const Exchange& exchange, uint64_t b, const uint8_t* block, uint32_t entry) {
  return BlockMustTravel(exchange, b, block, entry, BlockChecksum(block));
}

bool BlockMustTravel(const Exchange& exchange, uint64_t b, const uint8_t* block, uint32_t entry, uint32_t checksum) {
  if (checksum != entry) return true;
  // A test file cut short (in transit, say) has no entry for a block the broken copy has
  // bytes in: nothing is known of those bytes, so the block goes.
  if (b > exchange.entries && (b - 1) * kBlockSize < std::min<uint64_t>(exchange.recordedSize, exchange.validSize)) {
    return true;
  }
  const uint64_t vouched = VouchedLength(exchange);
  if (b * kBlockSize <= vouched) return false;
  const uint64_t start = (b - 1) * kBlockSize;
  const uint64_t from = Max(vouched, start);
  const uint64_t to = std::min<uint64_t>(b * kBlockSize, exchange.validSize);
  return from < to && !AllZero(block + (from - start), to - from);
}

bool CopiesIdentical(const Exchange& exchange, uint64_t blocksThatTravel) {
  return blocksThatTravel == 0 && exchange.recordedSize == exchange.validSize && exchange.entries == exchange.validBlocks;
}

bool BlockNumberFits(uint64_t blockNumber, uint64_t validBlocks) { return blockNumber != 0 && blockNumber <= validBlocks; }

bool BrokenFileFits(uint64_t brokenSize, uint64_t validSize) { return brokenSize <= BlockCount64(validSize) * kBlockSize; }

uint32_t BlockBytesInFile(uint64_t b, uint64_t size) {
  const uint64_t start = (b - 1) * kBlockSize;
  return start >= size ? 0 : static_cast<uint32_t>(std::min<uint64_t>(size - start, kBlockSize));
}
