// What the three streaming operations share: the outcomes they return, the buffers they
// read through, and how they report progress and notice a request to stop.
#pragma once

#include <cstdint>

#include "core/block.h"
#include "core/outcome.h"
#include "platform/platform.h"
#include "stream/operations.h"

// The size of each working buffer: a whole number of blocks, small enough that a block just
// read is still in the processor's cache when its checksum is taken.
inline constexpr uint32_t kStreamBufferBytes = 1u << 20;
inline constexpr uint32_t kStreamBufferBlocks = kStreamBufferBytes / kBlockSize;

// The one way an operation stops at a step: for the reason its failed call gave, the program
// that held the file included, and an early end of a file read as the file changing since it
// was measured.
Outcome Stopped(Step step, SystemError failed);
// A condition the operation found itself: a stop with no system error.
Outcome Refused(Step step);
// The failure a stop carries, for a caller that tells it beside other entries; valid as long
// as the outcome.
SystemError FailureOf(const Outcome& stopped);

// Follows the bytes done against the total and asks the caller whether to go on.
class Progress {
 public:
  Progress(const StreamControl& control, uint64_t total) : control_(control), total_(total) {}
  // Whether the caller has asked to stop; checked between blocks.
  bool StopRequested() const;
  void Advance(uint64_t bytes);
  void AddToTotal(uint64_t bytes) { total_ += bytes; }
  // Whether the caller wants the work on its own thread alone.
  bool OneThread() const { return control_.oneThread; }

 private:
  const StreamControl& control_;
  uint64_t total_;
  uint64_t done_ = 0;
};

// Reads count bytes at offset into buffer and pads it with zero bytes up to padTo.
SystemError ReadPadded(const File& file, uint64_t offset, uint8_t* buffer, uint32_t count, uint32_t padTo);

