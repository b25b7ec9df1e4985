// The check of the broken file against the record of the file a repair was made for.
#include "stream/origin_check.h"

#include <algorithm>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/repair_origin.h"

namespace {

// Reads run blocks from block first of the broken file, as far as it has them, zeros behind.
SystemError ReadBrokenRun(const File& brokenFile, uint64_t brokenSize, uint64_t first, uint32_t run, uint8_t* buffer) {
  const uint64_t start = (first - 1) * kBlockSize;
  const uint64_t present = brokenSize > start ? std::min<uint64_t>(brokenSize - start, uint64_t{run} * kBlockSize) : 0;
  return ReadPadded(brokenFile, start, buffer, static_cast<uint32_t>(present), run * kBlockSize);
}

}  // namespace

Outcome OtherFileOutcome(const CheckRefusal& why) {
  Outcome result;
  result.ending = Ending::OtherFile;
  result.check = why;
  return result;
}

bool OriginSizeHolds(const RepairOrigin& origin, uint64_t brokenSize, uint64_t validSize, Outcome* refused) {
  if (OriginSizeFits(origin, brokenSize, validSize)) return true;
  CheckRefusal why;
  why.finding = CheckFinding::SizeDiffers;
  why.brokenSize = brokenSize;
  why.recordedSize = origin.recordedSize;
  *refused = OtherFileOutcome(why);
  return false;
}

uint32_t BrokenBlocksCheck::Held(uint64_t b) const {
  const uint64_t start = (b - 1) * kBlockSize;
  return brokenSize_ > start ? static_cast<uint32_t>(std::min<uint64_t>(brokenSize_ - start, kBlockSize)) : 0;
}

void BrokenBlocksCheck::Sampled(uint64_t b, const uint8_t* bytes, uint32_t value) {
  check_.Sample(b, HoldsRecorded(origin_, b, bytes, Held(b), value));
}

void BrokenBlocksCheck::Carried(uint64_t b, const uint8_t* bytes, uint32_t value, const uint8_t* repairBlock) {
  check_.Carried(b, HoldsRecorded(origin_, b, bytes, Held(b), value), HoldsRepairBlock(b, validSize_, bytes, Held(b), repairBlock));
}

Outcome BrokenBlocksCheck::Refusal() const {
  CheckRefusal why;
  why.finding = CheckFinding::BlockDiffers;
  why.brokenSize = brokenSize_;
  why.recordedSize = origin_.recordedSize;
  why.block = check_.FailedAt();
  why.first = (why.block - 1) * kBlockSize;
  why.last = why.first + BlockBytesInFile(why.block, validSize_) - 1;
  return OtherFileOutcome(why);
}

Outcome CheckOrigin(const File& brokenFile, uint64_t brokenSize, const CarriedBlocks& carried, const RepairOrigin& origin,
                    uint8_t* brokenBuffer, uint8_t* repairBuffer) {
  Outcome refused;
  if (!OriginSizeHolds(origin, brokenSize, carried.validSize, &refused)) return refused;
  BrokenBlocksCheck check(origin, brokenSize, carried.validSize);
  for (uint32_t i = 0; i < origin.samples; ++i) {
    const uint8_t* sample = carried.samples + kOriginSampleBytes * i;
    const uint32_t b = LoadU32LE(sample);
    if (const SystemError failed = ReadBrokenRun(brokenFile, brokenSize, b, 1, brokenBuffer)) {
      return Stopped(Step::ReadBroken, failed);
    }
    check.Sampled(b, brokenBuffer, LoadU32LE(sample + 4));
  }
  // The carried blocks, neighbours in one read from each file.
  const std::vector<uint32_t>& list = *carried.list;
  for (size_t j = 0; j < list.size() && check.Holds();) {
    uint32_t run = 1;
    while (j + run < list.size() && run < kStreamBufferBlocks && list[j + run] == list[j] + run) ++run;
    if (const SystemError failed = ReadBrokenRun(brokenFile, brokenSize, list[j], run, brokenBuffer)) {
      return Stopped(Step::ReadBroken, failed);
    }
    if (const SystemError failed =
            ReadAt(*carried.repairFile, carried.blocksAt + uint64_t{j} * kBlockSize, repairBuffer, run * kBlockSize)) {
      return Stopped(Step::ReadRepair, failed);
    }
    for (uint32_t i = 0; i < run; ++i) {
      check.Carried(list[j + i], brokenBuffer + uint64_t{i} * kBlockSize, (*carried.values)[j + i],
                    repairBuffer + uint64_t{i} * kBlockSize);
    }
    j += run;
  }
  return check.Holds() ? DoneOutcome() : check.Refusal();
}
