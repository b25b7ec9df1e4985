// Reading and working on what was read at the same time. The calling thread reads the next
// slices of a file while a second thread works on those read before (checksums, hashes, the
// comparison with a test file), in a ring of a few slices, so that a scan takes about as long
// as its reading. The calling thread keeps every platform call, the reads and the writes, the
// progress and the stop; the second thread only computes, so nothing it does can fail. Where
// no second thread can be had, or the caller wants none, the work is done in line, with the
// same result.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "core/outcome.h"
#include "platform/platform.h"
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

// The slices and the memory of their bytes, released with the ring.
struct SliceRing {
  Slice slices[kRingSlices];
  Memory memory[kRingSlices];
};

// Commits the slices' buffers.
SystemError AcquireSlices(SliceRing* ring);

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

// The ring's slices in work: made once for an operation, which runs them over one file or
// over one file after another (a folder's). The second thread is started by the first run
// that can use it and serves every run after; a run of one slice is worked in line, since
// nothing could be read meanwhile, and so is every run when the caller wants no second thread
// or none can be had.
class Pipeline {
 public:
  explicit Pipeline(SliceRing& ring) : ring_(ring) {}
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Runs the job over the first size bytes of a file. Done; the first stop of Fill or Collect;
  // or Cancelled when the caller asks to stop, checked before each slice. The progress advances
  // by each slice read. However it ends, no slice is left in work.
  Outcome Run(SliceJob& job, uint64_t size, Progress& progress);

 private:
  enum class State : uint8_t { Free, Read, Worked };
  static void WorkOnSlices(void* context);
  bool HaveWorker();
  uint32_t Position(uint64_t n) const { return static_cast<uint32_t>((next_ + n) % kRingSlices); }
  void HandOver(uint32_t i);
  // Waits for the slice's work and frees the slice.
  void Finish(uint32_t i);

  SliceRing& ring_;
  SliceJob* job_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  State states_[kRingSlices] = {};
  bool closing_ = false;
  Thread worker_;
  bool workerTried_ = false;
  // The slice the second thread works on next: runs with it go on round the ring.
  uint32_t next_ = 0;
  // Slices handed over to the second thread, for it to wait awake a little before it sleeps.
  std::atomic<uint64_t> handedOver_{0};
};

// One run in a pipeline of its own.
Outcome RunSlices(SliceRing& ring, SliceJob& job, uint64_t size, Progress& progress);
