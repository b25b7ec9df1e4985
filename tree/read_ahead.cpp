// The readers of a scan's files and the hand-over in the scan's order.
#include "tree/read_ahead.h"

#include <algorithm>
#include <new>
#include <utility>

#include "platform/hooks.h"
#include "tree/listed_file.h"

void ReadAheadChecksums::Work(ReadAheadFile& file) {
  Hash128 region;
  Fingerprinter fingerprint(file.size, &region);
  if (file.size != 0) fingerprint.AddBlocks(file.bytes, file.size, file.checksums);
  file.whole = fingerprint.Whole();
}

ReadAhead::ReadAhead(const FolderHandle& top, const TreeListing& listing, std::vector<uint32_t> files,
                     const ReadAheadSteps& steps, ReadAheadWork* work, const StreamControl& control)
    : top_(top), listing_(listing), files_(std::move(files)), steps_(steps), work_(work), control_(control) {}

Outcome ReadAhead::Start() {
  const uint32_t count = static_cast<uint32_t>(files_.size());
  uint32_t wanted = control_.oneThread || count < 2 ? 0 : std::min(kReadAheadReaders, count);
  wanted = SideBySideReaders(wanted);
  if (wanted == 0) return DoneOutcome();
  slotCount_ = std::min(kReadAheadSlots, count);
  slots_ = std::make_unique<Slot[]>(slotCount_);
  for (uint32_t i = 0; i < slotCount_; ++i) {
    if (const SystemError failed = CommitMemory(kReadAheadFileBytes, &slots_[i].memory)) {
      slots_.reset();
      slotCount_ = 0;
      return Stopped(steps_.allocate, failed);
    }
  }
  threads_.resize(wanted);
  for (uint32_t i = 0; i < wanted; ++i) {
    // Fewer readers than wanted read the same files, only later.
    if (StartThread(&Read, this, &threads_[i])) break;
    ++readerCount_;
  }
  threads_.resize(readerCount_);
  if (readerCount_ == 0) {
    slots_.reset();
    slotCount_ = 0;
  }
  return DoneOutcome();
}

bool ReadAhead::Large(uint32_t position) const { return listing_.entries[files_[position]].size > kReadAheadFileBytes; }

// Each file into the slot its position names once the scan has given that slot back; a large
// file only when the scan has taken every file before it, and none after it until the scan has
// read it.
bool ReadAhead::MayClaim(uint32_t position) const {
  if (position >= files_.size() || largeOut_) return false;
  if (slots_[position % slotCount_].state != Slot::State::Free) return false;
  return !Large(position) || released_ == position;
}

// Whether the run from position on (files of one folder, small, at most kReadAheadRun, as far
// as the buffers allow) can be claimed whole: a reader waits for the buffers of a whole run
// rather than take its files one at a time as the scan gives them back.
bool ReadAhead::MayClaimRun(uint32_t position) const {
  if (!MayClaim(position)) return false;
  const uint32_t parent = listing_.entries[files_[position]].parent;
  for (uint32_t next = position + 1; next < position + std::min(kReadAheadRun, slotCount_); ++next) {
    if (next >= files_.size() || Large(next) || listing_.entries[files_[next]].parent != parent) return true;
    if (slots_[next % slotCount_].state != Slot::State::Free) return false;
  }
  return true;
}

bool ReadAhead::Claimable() const { return nextClaim_ >= files_.size() || MayClaimRun(nextClaim_); }

// One reader woken at a time, and only when there is a run to claim and no reader already on
// its way to it: only one can claim it, and on a busy processor a wake-up for nothing costs
// more than the read. A reader at work claims the next run itself, without a wake-up.
bool ReadAhead::WakeReader() {
  if (wakePending_ || !Claimable()) return false;
  wakePending_ = true;
  return true;
}

void ReadAhead::Read(void* context) {
  ReadAhead& ahead = *static_cast<ReadAhead*>(context);
  FolderCursor cursor(ahead.top_);
  std::unique_lock<std::mutex> lock(ahead.mutex_);
  for (;;) {
    ahead.claimable_.wait(lock, [&] { return ahead.closing_ || ahead.Claimable(); });
    if (ahead.closing_ || ahead.nextClaim_ >= ahead.files_.size()) break;
    ahead.wakePending_ = false;
    // A run of files of one folder, so that a reader opens each folder it reads in once.
    const uint32_t first = ahead.nextClaim_;
    do {
      const uint32_t position = ahead.nextClaim_++;
      ahead.slots_[position % ahead.slotCount_].state = Slot::State::Claimed;
      if (ahead.Large(position)) ahead.largeOut_ = true;
    } while (ahead.nextClaim_ - first < kReadAheadRun && ahead.MayClaim(ahead.nextClaim_) &&
             ahead.listing_.entries[ahead.files_[ahead.nextClaim_]].parent == ahead.listing_.entries[ahead.files_[first]].parent);
    const uint32_t end = ahead.nextClaim_;
    const bool more = ahead.WakeReader();
    lock.unlock();
    if (more) ahead.claimable_.notify_one();
    for (uint32_t position = first; position < end; ++position) {
      Slot& slot = ahead.slots_[position % ahead.slotCount_];
      // Memory the heap refuses here (a folder's name, a path) is the scan's failure, as it
      // would be on its own thread: it learns of it when it takes the file.
      slot.outOfMemory = false;
      try {
        ahead.Fill(cursor, position, slot);
      } catch (const std::bad_alloc&) {
        slot.file.file = File();
        slot.outOfMemory = true;
      }
      lock.lock();
      slot.state = Slot::State::Ready;
      // The scan is woken only for the file it waits for.
      const bool awaited = ahead.awaited_ == position;
      lock.unlock();
      if (awaited) ahead.ready_.notify_one();
    }
    lock.lock();
  }
  lock.unlock();
  // The folders this reader holds are closed here, on its own thread, before it is joined.
  cursor.Close();
}

// Opens and sizes the file; a small one is read whole and worked on, a large one left open for
// the scan. A stop leaves the file unread: the scan takes no more files then.
void ReadAhead::Fill(FolderCursor& cursor, uint32_t position, Slot& slot) {
  ReadAheadFile& file = slot.file;
  file.index = files_[position];
  file.bytes = nullptr;
  const ListedFileSteps steps{steps_.open, steps_.size};
  file.failed = OpenListedFile(cursor, listing_, file.index, steps, &file.file, &file.size, &file.failedAt);
  if (file.failed || file.size > kReadAheadFileBytes) return;
  if (control_.stop != nullptr && control_.stop->load(std::memory_order_relaxed)) return;
  const uint32_t size = static_cast<uint32_t>(file.size);
  const uint32_t padded = static_cast<uint32_t>(BlockCount64(size) * kBlockSize);
  if ((file.failed = ReadPadded(file.file, 0, slot.memory.bytes(), size, padded))) {
    file.failedAt = steps_.read;
    file.file = File();
    return;
  }
  file.bytes = slot.memory.bytes();
  if (work_ != nullptr) work_->Work(file);
}

ReadAheadFile& ReadAhead::Next() {
  Release();
  const uint32_t position = nextTake_++;
  if (readerCount_ == 0) {
    // No reader: the file is opened here and read by the scan, as a single one is.
    if (!inLine_) inLine_ = std::make_unique<FolderCursor>(top_);
    if (!slots_) {
      slots_ = std::make_unique<Slot[]>(1);
      slotCount_ = 1;
    }
    ReadAheadFile& file = slots_[0].file;
    file.index = files_[position];
    file.bytes = nullptr;
    file.failed = OpenListedFile(*inLine_, listing_, file.index, ListedFileSteps{steps_.open, steps_.size}, &file.file,
                                 &file.size, &file.failedAt);
    holding_ = true;
    return file;
  }
  Slot& slot = slots_[position % slotCount_];
  {
    std::unique_lock<std::mutex> lock(mutex_);
    awaited_ = position;
    ready_.wait(lock, [&] { return slot.state == Slot::State::Ready && nextClaim_ > position; });
    awaited_ = kNoneAwaited;
    holding_ = true;
  }
  if (slot.outOfMemory) throw std::bad_alloc();
  return slot.file;
}

void ReadAhead::Release() {
  if (!holding_) return;
  const uint32_t position = nextTake_ - 1;
  if (readerCount_ == 0) {
    slots_[0].file.file = File();
    holding_ = false;
    return;
  }
  Slot& slot = slots_[position % slotCount_];
  slot.file.file = File();
  slot.file.bytes = nullptr;
  bool claimable;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slot.state = Slot::State::Free;
    holding_ = false;
    ++released_;
    if (Large(position)) largeOut_ = false;
    claimable = WakeReader();
  }
  if (claimable) claimable_.notify_one();
}

void ReadAhead::Close() {
  Release();
  if (!threads_.empty()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    claimable_.notify_all();
    for (Thread& thread : threads_) thread.Join();
    threads_.clear();
  }
  readerCount_ = 0;
  inLine_.reset();
  slots_.reset();
  slotCount_ = 0;
}
