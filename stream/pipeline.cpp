// The ring of slices between the reading thread and the working one.
#include "stream/pipeline.h"

#include <condition_variable>
#include <mutex>

#include "core/block.h"
#include "platform/platform.h"

namespace {

enum class SliceState { Free, Read, Worked };

struct Shared {
  SliceRing* ring = nullptr;
  SliceJob* job = nullptr;
  std::mutex mutex;
  std::condition_variable changed;
  SliceState states[kRingSlices] = {};
  bool closing = false;
};

// The second thread: each slice in turn, as soon as it has been read; it ends once the reading
// is over and nothing read is left.
void WorkOnSlices(void* context) {
  Shared& shared = *static_cast<Shared*>(context);
  for (uint32_t i = 0;; i = (i + 1) % kRingSlices) {
    {
      std::unique_lock<std::mutex> lock(shared.mutex);
      shared.changed.wait(lock, [&] { return shared.states[i] == SliceState::Read || shared.closing; });
      if (shared.states[i] != SliceState::Read) return;
    }
    shared.job->Work(shared.ring->slices[i]);
    {
      std::lock_guard<std::mutex> lock(shared.mutex);
      shared.states[i] = SliceState::Worked;
    }
    shared.changed.notify_all();
  }
}

class Ring {
 public:
  Ring(SliceRing& ring, SliceJob& job, bool oneThread) {
    shared_.ring = &ring;
    shared_.job = &job;
    if (!oneThread) worker_ = StartThread(&WorkOnSlices, &shared_);
  }
  ~Ring() {
    if (worker_ == nullptr) return;
    {
      std::lock_guard<std::mutex> lock(shared_.mutex);
      shared_.closing = true;
    }
    shared_.changed.notify_all();
    JoinThread(worker_);
  }

  void HandOver(uint32_t i) {
    if (worker_ == nullptr) {
      shared_.job->Work(shared_.ring->slices[i]);
      shared_.states[i] = SliceState::Worked;
      return;
    }
    {
      std::lock_guard<std::mutex> lock(shared_.mutex);
      shared_.states[i] = SliceState::Read;
    }
    shared_.changed.notify_all();
  }

  Outcome Collect(uint32_t i) {
    {
      std::unique_lock<std::mutex> lock(shared_.mutex);
      shared_.changed.wait(lock, [&] { return shared_.states[i] == SliceState::Worked; });
      shared_.states[i] = SliceState::Free;
    }
    return shared_.job->Collect(shared_.ring->slices[i]);
  }

 private:
  Shared shared_;
  ThreadHandle worker_ = nullptr;
};

}  // namespace

int AcquireSlices(SliceRing* ring) {
  for (Slice& slice : ring->slices) {
    slice.bytes = static_cast<uint8_t*>(CommitMemory(kStreamBufferBytes));
    if (slice.bytes == nullptr) {
      const uint32_t error = LastSystemError();
      ReleaseSlices(ring);
      SetLastSystemError(error);
      return 0;
    }
  }
  return 1;
}

void ReleaseSlices(SliceRing* ring) {
  for (Slice& slice : ring->slices) {
    if (slice.bytes != nullptr) ReleaseMemory(slice.bytes);
    slice.bytes = nullptr;
  }
}

Outcome RunSlices(SliceRing& ring, SliceJob& job, uint64_t size, Progress& progress) {
  Ring running(ring, job, progress.OneThread());
  Outcome result = DoneOutcome();
  uint64_t read = 0;  // slices read
  uint64_t collected = 0;
  for (uint64_t offset = 0; offset < size && result.ending == Ending::Done; offset += kStreamBufferBytes, ++read) {
    if (progress.StopRequested()) return CancelledOutcome(false);
    const uint32_t i = static_cast<uint32_t>(read % kRingSlices);
    // The slice's last round must be collected before it is read again.
    if (read >= kRingSlices) {
      result = running.Collect(i);
      ++collected;
      if (result.ending != Ending::Done) break;
    }
    Slice& slice = ring.slices[i];
    slice.offset = offset;
    slice.count = static_cast<uint32_t>(size - offset < kStreamBufferBytes ? size - offset : kStreamBufferBytes);
    slice.blocks = static_cast<uint32_t>(BlockCount64(slice.count));
    slice.hashBlocks = false;
    result = job.Fill(slice);
    if (result.ending != Ending::Done) break;
    running.HandOver(i);
    progress.Advance(slice.count);
  }
  for (; collected < read && result.ending == Ending::Done; ++collected) {
    result = running.Collect(static_cast<uint32_t>(collected % kRingSlices));
  }
  return result;
}
