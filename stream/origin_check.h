// The check a streaming repair makes before its first write when its repair file records the
// broken file it was made for: the size, the sampled blocks and the carried blocks, read from
// the broken file through the handle the repair will write with (core/repair_origin.h says
// what must hold). Only those blocks are read.
#pragma once

#include <cstdint>
#include <vector>

#include "core/fingerprint_part.h"
#include "core/repair_file.h"
#include "platform/platform.h"
#include "stream/fingerprint_check.h"
#include "stream/steps.h"

// The refusal: the broken file is not the file the record describes (Ending::OtherFile).
Outcome OtherFileOutcome(const CheckRefusal& why);
// Whether the size fits the record; otherwise the refusal in *refused.
bool OriginSizeHolds(const RepairOrigin& origin, uint64_t brokenSize, uint64_t validSize, Outcome* refused);

// The record's check of the broken file (brokenSize bytes) against a repair for a valid file of
// validSize bytes, fed each sampled and each carried block as it is read, by whichever read
// takes them (the check's own or the one pass of a repair with a check file). A block's bytes
// are kBlockSize, zeros behind the file's end.
class BrokenBlocksCheck {
 public:
  BrokenBlocksCheck(const RepairOrigin& origin, uint64_t brokenSize, uint64_t validSize)
      : origin_(origin), brokenSize_(brokenSize), validSize_(validSize) {}
  void Sampled(uint64_t b, const uint8_t* bytes, uint32_t value);
  void Carried(uint64_t b, const uint8_t* bytes, uint32_t value, const uint8_t* repairBlock);
  bool Holds() const { return check_.Holds(); }
  // The refusal for the block that settled it.
  Outcome Refusal() const;

 private:
  // The bytes the broken file has of block b, at most kBlockSize.
  uint32_t Held(uint64_t b) const;
  const RepairOrigin& origin_;
  uint64_t brokenSize_;
  uint64_t validSize_;
  OriginCheck check_;
};

// Where a repair's blocks are: in the repair file from blocksAt on, in the order of list, for a
// valid file of validSize bytes; values and samples are the record's (core/repair_origin.h).
struct CarriedBlocks {
  const File* repairFile = nullptr;
  uint64_t blocksAt = 0;
  uint64_t validSize = 0;
  const std::vector<uint32_t>* list = nullptr;
  const std::vector<uint32_t>* values = nullptr;
  const uint8_t* samples = nullptr;
};

// Reads the sampled and the carried blocks of the broken file (brokenSize bytes) into
// brokenBuffer and the carried blocks of the repair file into repairBuffer (kStreamBufferBytes
// each). Done when the file is the one the record describes or that file partly repaired;
// OtherFile otherwise; a read that fails stops at ReadBroken or ReadRepair.
Outcome CheckOrigin(const File& brokenFile, uint64_t brokenSize, const CarriedBlocks& carried, const RepairOrigin& origin,
                    uint8_t* brokenBuffer, uint8_t* repairBuffer);
