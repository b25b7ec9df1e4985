// The ring of slices between the reading thread and the working one.
#include "stream/pipeline.h"

#include "core/block.h"

namespace {

// How long the second thread waits awake for the next slice before it sleeps: about 80 us on
// the processors measured, a little less than a page-cached slice takes to read.
constexpr uint32_t kWorkerSpins = 4000;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace

SystemError AcquireSlices(SliceRing* ring) {
  for (uint32_t i = 0; i < kRingSlices; ++i) {
    if (const SystemError failed = CommitMemory(kStreamBufferBytes, &ring->memory[i])) return failed;
    ring->slices[i].bytes = ring->memory[i].bytes();
  }
  return SystemError{};
}

Pipeline::~Pipeline() {
  if (!worker_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  worker_.Join();
}

// The second thread: each slice in turn, as soon as it has been read; it ends once the
// pipeline closes, which is only when no slice is in work.
void Pipeline::WorkOnSlices(void* context) {
  Pipeline& pipeline = *static_cast<Pipeline*>(context);
  uint64_t seen = 0;
  for (uint32_t i = 0;; i = (i + 1) % kRingSlices, ++seen) {
    // The next slice is usually a read away: waiting that long awake spares the reading thread
    // the wake-up, which costs it more than the wait costs this one.
    for (uint32_t spin = 0; spin < kWorkerSpins; ++spin) {
      if (pipeline.handedOver_.load(std::memory_order_relaxed) != seen) break;
      CpuRelax();
    }
    SliceJob* job;
    {
      std::unique_lock<std::mutex> lock(pipeline.mutex_);
      pipeline.changed_.wait(lock, [&] { return pipeline.states_[i] == State::Read || pipeline.closing_; });
      if (pipeline.states_[i] != State::Read) return;
      job = pipeline.job_;
    }
    job->Work(pipeline.ring_.slices[i]);
    {
      std::lock_guard<std::mutex> lock(pipeline.mutex_);
      pipeline.states_[i] = State::Worked;
    }
    pipeline.changed_.notify_all();
  }
}

bool Pipeline::HaveWorker() {
  if (!worker_ && !workerTried_) {
    workerTried_ = true;
    // Without a second thread the work is done in line: its failure stops nothing.
    static_cast<void>(StartThread(&WorkOnSlices, this, &worker_));
  }
  return static_cast<bool>(worker_);
}

void Pipeline::HandOver(uint32_t i) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    states_[i] = State::Read;
  }
  handedOver_.fetch_add(1, std::memory_order_relaxed);
  changed_.notify_all();
}

void Pipeline::Finish(uint32_t i) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return states_[i] == State::Worked; });
  states_[i] = State::Free;
}

Outcome Pipeline::Run(SliceJob& job, uint64_t size, Progress& progress) {
  const bool inLine = progress.OneThread() || size <= kStreamBufferBytes || !HaveWorker();
  {
    // Every slice is free between runs: the second thread reads this only for a slice read.
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = &job;
  }
  Outcome result = DoneOutcome();
  uint64_t read = 0;  // slices read and handed over
  uint64_t finished = 0;
  for (uint64_t offset = 0; offset < size; offset += kStreamBufferBytes, ++read) {
    if (progress.StopRequested()) {
      result = CancelledOutcome(false);
      break;
    }
    // The slice's last round must be collected before it is read again.
    if (read >= kRingSlices) {
      Finish(Position(finished));
      result = job.Collect(ring_.slices[Position(finished++)]);
      if (result.ending != Ending::Done) break;
    }
    const uint32_t i = Position(read);
    Slice& slice = ring_.slices[i];
    slice.offset = offset;
    slice.count = static_cast<uint32_t>(size - offset < kStreamBufferBytes ? size - offset : kStreamBufferBytes);
    slice.blocks = static_cast<uint32_t>(BlockCount64(slice.count));
    slice.hashBlocks = false;
    result = job.Fill(slice);
    if (result.ending != Ending::Done) break;
    if (inLine) {
      job.Work(slice);
      std::lock_guard<std::mutex> lock(mutex_);
      states_[i] = State::Worked;
    } else {
      HandOver(i);
    }
    progress.Advance(slice.count);
  }
  for (; finished < read && result.ending == Ending::Done; ++finished) {
    Finish(Position(finished));
    result = job.Collect(ring_.slices[Position(finished)]);
  }
  // A run that stopped early still waits for what it handed over, and drops it.
  for (; finished < read; ++finished) Finish(Position(finished));
  // The second thread has gone round as far as this run read; a run in line left it where it was.
  if (!inLine) next_ = Position(read);
  return result;
}

Outcome RunSlices(SliceRing& ring, SliceJob& job, uint64_t size, Progress& progress) {
  Pipeline pipeline(ring);
  return pipeline.Run(job, size, progress);
}
