// The record of the broken file a repair was made for: its fields, the sample, the checks.
#include "core/repair_origin.h"

#include <algorithm>
#include <cstring>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/fingerprint.h"

void StoreOriginFields(uint8_t* out, const RepairOrigin& origin) {
  StoreU64LE(out, origin.recordedSize);
  StoreU32LE(out + 8, static_cast<uint32_t>(origin.recordedEntries));
  StoreU32LE(out + 12, static_cast<uint32_t>(origin.kind));
  StoreU32LE(out + 16, origin.carried);
  StoreU32LE(out + 20, origin.samples);
}

int LoadOriginFields(const uint8_t* in, uint64_t validSize, uint32_t carried, RepairOrigin* origin) {
  origin->recordedSize = LoadU64LE(in);
  origin->recordedEntries = LoadU32LE(in + 8);
  const uint32_t kind = LoadU32LE(in + 12);
  origin->kind = static_cast<BlockValueKind>(kind);
  origin->carried = LoadU32LE(in + 16);
  origin->samples = LoadU32LE(in + 20);
  // A file's test file never has more entries than the valid file has blocks (the scan refuses
  // it); a folder's has one for each block of the broken file.
  return (kind == static_cast<uint32_t>(BlockValueKind::Checksum) || kind == static_cast<uint32_t>(BlockValueKind::Hash64)) &&
         origin->recordedSize <= kLargestExchangedSize &&
         origin->recordedEntries <= std::max(BlockCount64(validSize), BlockCount64(origin->recordedSize)) &&
         origin->carried == carried && origin->samples <= kMostSampledBlocks;
}

uint64_t OriginListBytes(const RepairOrigin& origin) {
  return 4 * uint64_t{origin.carried} + uint64_t{kOriginSampleBytes} * origin.samples;
}

int OriginSamplesHold(const uint8_t* samples, const RepairOrigin& origin, uint64_t validSize) {
  uint64_t previous = 0;
  for (uint32_t i = 0; i < origin.samples; ++i) {
    const uint64_t b = LoadU32LE(samples + uint64_t{kOriginSampleBytes} * i);
    const uint32_t recorded = RecordedBytes(origin, b);
    if (b <= previous || recorded == 0 || (b - 1) * kBlockSize + recorded > validSize) return 0;
    previous = b;
  }
  return 1;
}

uint32_t BlockValue(BlockValueKind kind, const uint8_t* block) {
  switch (kind) {
    case BlockValueKind::Checksum: return BlockChecksum(block);
    case BlockValueKind::Hash64: return static_cast<uint32_t>(Xxh3Hash64(block, kBlockSize));
  }
  return 0;
}

uint64_t SampleCandidates(uint64_t recordedSize, uint64_t recordedEntries, uint64_t validSize) {
  uint64_t candidates = std::min({recordedEntries, BlockCount64(recordedSize), BlockCount64(validSize)});
  // A broken file longer than the valid one: a block it ends in past the valid size is cut by
  // the repair, so only whole blocks inside the valid size stay as they were.
  if (recordedSize > validSize) candidates = std::min(candidates, validSize / kBlockSize);
  return candidates;
}

bool OriginSizeFits(const RepairOrigin& origin, uint64_t brokenSize, uint64_t validSize) {
  return brokenSize >= std::min(origin.recordedSize, validSize) && brokenSize <= std::max(origin.recordedSize, validSize);
}

uint32_t RecordedBytes(const RepairOrigin& origin, uint64_t b) {
  if (b == 0 || b > origin.recordedEntries) return 0;
  const uint64_t start = (b - 1) * kBlockSize;
  if (start >= origin.recordedSize) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>(origin.recordedSize - start, kBlockSize));
}

bool HoldsRecorded(const RepairOrigin& origin, uint64_t b, const uint8_t* bytes, uint32_t have, uint32_t value) {
  const uint32_t recorded = RecordedBytes(origin, b);
  if (recorded == 0) return true;
  if (have < recorded) return false;
  uint8_t block[kBlockSize] = {};
  std::memcpy(block, bytes, recorded);
  return BlockValue(origin.kind, block) == value;
}

bool HoldsRepairBlock(uint64_t b, uint64_t validSize, const uint8_t* bytes, uint32_t have, const uint8_t* repairBlock) {
  const uint64_t start = (b - 1) * kBlockSize;
  if (start >= validSize) return false;
  const uint32_t valid = static_cast<uint32_t>(std::min<uint64_t>(validSize - start, kBlockSize));
  return have >= valid && std::memcmp(bytes, repairBlock, valid) == 0;
}

void OriginCheck::Sample(uint64_t b, bool holds) {
  if (!holds && failedAt_ == 0) failedAt_ = b;
}

void OriginCheck::Carried(uint64_t b, bool holdsRecorded, bool holdsRepairBlock) {
  if (failedAt_ != 0) return;
  if (written_) {
    // The first block not in place ends the written ones: it holds its value, or is the torn one.
    if (!holdsRepairBlock) written_ = false;
    return;
  }
  if (!holdsRecorded) failedAt_ = b;
}
