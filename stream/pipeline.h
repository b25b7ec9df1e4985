// Reading and working on what was read at the same time. The calling thread reads the next
// slices of a file while a second thread works on those read before (checksums, hashes, the
// comparison with a test file), in a ring of a few slices, so that a scan takes about as long
// as its reading. The calling thread keeps every platform call, the reads and the writes, the
// progress and the stop; the second thread only computes, so nothing it does can fail. Where
// no second thread can be had, or the caller wants none, the work is done in line, with the
// same result.
#pragma once

#include <cstdint>

#include "core/outcome.h"
#include "stream/steps.h"

inline constexpr uint32_t kRingSlices = 4;

struct Slice {
  uint8_t* bytes = nullptr;  // kStreamBufferBytes
  uint64_t offset = 0;       // in the file
  uint32_t count = 0;        // the file's bytes in it; the last block is padded with zero bytes
  uint32_t blocks = 0;       // whole blocks, the padded one included
  // What the calling thread reads for the work beside the bytes, and what the work gives back,
  // one per block.
  uint8_t entries[4 * kStreamBufferBlocks];
  uint64_t expected[kStreamBufferBlocks];
  bool hashBlocks = false;
  uint32_t checksums[kStreamBufferBlocks];
  bool travels[kStreamBufferBlocks];
};

struct SliceRing {
  Slice slices[kRingSlices];
};

// Commits the slices' buffers; 0 with the last error set when the memory cannot be had (what
// was had is released).
int AcquireSlices(SliceRing* ring);
void ReleaseSlices(SliceRing* ring);

class SliceJob {
 public:
  // On the calling thread: reads the slice's count bytes at its offset, and what the work needs
  // beside them. Done, or the stop.
  virtual Outcome Fill(Slice& slice) = 0;
  // On the second thread, slice after slice in the file's order.
  virtual void Work(Slice& slice) = 0;
  // On the calling thread, in the file's order, once the slice's work is done. Done, or the stop.
  virtual Outcome Collect(Slice& slice) = 0;

 protected:
  ~SliceJob() = default;
};

// Runs the job over the first size bytes of a file. Done; the first stop of Fill or Collect;
// or Cancelled when the caller asks to stop, checked before each slice. The progress advances
// by each slice read.
Outcome RunSlices(SliceRing& ring, SliceJob& job, uint64_t size, Progress& progress);
