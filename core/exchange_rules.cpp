// The exchange rules.
#include "core/exchange_rules.h"

#include <algorithm>
#include <cmath>
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

uint32_t BlockBytesInFile(uint64_t b, uint64_t size) {
  const uint64_t start = (b - 1) * kBlockSize;
  return start >= size ? 0 : static_cast<uint32_t>(std::min<uint64_t>(size - start, kBlockSize));
}

double DifferingShare(uint64_t carried, uint64_t validSize, uint64_t recordedSize) {
  const uint64_t blocks = BlockCount64(validSize);
  const double blockShare = blocks == 0 ? 0.0 : static_cast<double>(carried) / static_cast<double>(blocks);
  const uint64_t larger = std::max(validSize, recordedSize);
  const uint64_t apart = validSize > recordedSize ? validSize - recordedSize : recordedSize - validSize;
  const double sizeShare = larger == 0 ? 0.0 : static_cast<double>(apart) / static_cast<double>(larger);
  return std::max(blockShare, sizeShare);
}

uint32_t SharePercent(double share) {
  const double percent = std::round(share * 100);
  if (share > 0 && percent < 1) return 1;
  if (share < 1 && percent > 99) return 99;
  return static_cast<uint32_t>(std::min(percent, 100.0));
}
