// Many files of a listed tree read side by side: reader threads open a scan's files ahead of
// it, in its order, read each small one whole and do the work that needs nothing but its bytes
// (checksums, fingerprint); the scan takes them back one at a time in its own order, so that
// what it writes is what one file read after another gives.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/block.h"
#include "core/fingerprint.h"
#include "platform/platform.h"
#include "stream/steps.h"
#include "tree/folder_cursor.h"
#include "tree/listing.h"

// Reads in flight: enough to keep a solid-state disk's queue full and to give a rotating
// disk's elevator a folder's worth of requests to order; beyond that, small files come no
// faster (see docs/benchmarks.md).
inline constexpr uint32_t kReadAheadReaders = 16;
// Files read and waiting for the scan, each with a buffer: the readers' lead, and the memory
// they hold (kReadAheadSlots * kReadAheadFileBytes), whatever the tree.
inline constexpr uint32_t kReadAheadSlots = 64;
// Files of one folder a reader takes at once, one after another: it opens the folder once for
// them, and their reads lie near each other on the disk.
inline constexpr uint32_t kReadAheadRun = 4;
// A file up to this size is read whole by a reader. A larger one is only opened ahead; the
// scan reads it itself in order, and no other file is read meanwhile, so that a large file's
// reads stay one sequential run.
inline constexpr uint32_t kReadAheadFileBytes = 256 * 1024;
inline constexpr uint32_t kReadAheadBlocks = kReadAheadFileBytes / kBlockSize;
static_assert(kReadAheadFileBytes <= kSmallestRegion, "a file read ahead has one fingerprint region");

// One file as a reader hands it over.
struct ReadAheadFile {
  uint32_t index = 0;  // the listing's entry
  // Why the file cannot be had (the open, the size or the read, at failedAt); nothing is left
  // open then.
  SystemError failed;
  Step failedAt = Step::ReadBroken;
  File file;  // open until the scan takes the next file
  uint64_t size = 0;
  // The whole file, its last block padded with zero bytes, when it was read ahead; null when
  // the scan reads it itself.
  const uint8_t* bytes = nullptr;
  // What the readers' work made of the bytes, when there is work.
  uint32_t checksums[kReadAheadBlocks];
  Hash128 whole;
};

// What a reader does with a file read whole, on its own thread: no platform call, so nothing
// it does can fail.
class ReadAheadWork {
 public:
  virtual void Work(ReadAheadFile& file) = 0;

 protected:
  ~ReadAheadWork() = default;
};

// The work both folder scans want: a file's block checksums and its fingerprint, as the working
// thread would take them.
class ReadAheadChecksums final : public ReadAheadWork {
 public:
  void Work(ReadAheadFile& file) override;
};

struct ReadAheadSteps {
  Step open;
  Step size;
  Step read;
  Step allocate;
};

class ReadAhead {
 public:
  // files: the listing's entries the scan reads, in its order. work: null, or what a reader does
  // with each file it reads whole.
  ReadAhead(const FolderHandle& top, const TreeListing& listing, std::vector<uint32_t> files, const ReadAheadSteps& steps,
            ReadAheadWork* work, const StreamControl& control);
  ~ReadAhead() { Close(); }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Commits the buffers and starts the readers: Done, or Stopped at steps.allocate when memory
  // is refused. Where no reader is wanted (one thread asked for, too few files) or none can be
  // started, each file is opened when the scan asks for it, on its thread, and read by it.
  Outcome Start();
  // The next file in the scan's order, waited for; the one before is closed and its buffer
  // given back. Each file of the list is asked for once, in order. Throws std::bad_alloc where
  // the heap refused the reader memory for it, as the scan's own thread would.
  ReadAheadFile& Next();
  // Stops the readers, waits for them and closes every file and folder they hold.
  void Close();

  uint32_t readers() const { return readerCount_; }

 private:
  struct Slot {
    enum class State : uint8_t { Free, Claimed, Ready };
    State state = State::Free;
    ReadAheadFile file;
    Memory memory;  // kReadAheadFileBytes
    bool outOfMemory = false;  // the heap refused the reader while it took the file
  };
  static void Read(void* context);
  bool Large(uint32_t position) const;
  bool MayClaim(uint32_t position) const;
  bool MayClaimRun(uint32_t position) const;
  // Whether a waiting reader has something to do (a run to claim, or nothing left), under the
  // lock: a reader is woken only then.
  bool Claimable() const;
  // Whether to wake a reader for a run to claim; under the lock.
  bool WakeReader();
  void Fill(FolderCursor& cursor, uint32_t position, Slot& slot);
  void Release();

  const FolderHandle& top_;
  const TreeListing& listing_;
  const std::vector<uint32_t> files_;
  const ReadAheadSteps steps_;
  ReadAheadWork* work_;
  const StreamControl& control_;
  uint32_t readerCount_ = 0;
  std::unique_ptr<Slot[]> slots_;
  uint32_t slotCount_ = 0;
  std::vector<Thread> threads_;
  std::unique_ptr<FolderCursor> inLine_;  // with no reader, the scan's own
  std::mutex mutex_;
  std::condition_variable claimable_;
  std::condition_variable ready_;
  uint32_t nextClaim_ = 0;  // the position in files_ a reader takes next
  uint32_t nextTake_ = 0;   // the position the scan takes next
  uint32_t released_ = 0;   // the files the scan has given back
  static constexpr uint32_t kNoneAwaited = UINT32_MAX;
  uint32_t awaited_ = kNoneAwaited;  // the position the scan waits for
  bool holding_ = false;    // the scan holds the file at nextTake_ - 1
  bool largeOut_ = false;   // a large file is claimed and not yet given back
  // A reader was woken for a run and none has been claimed since: a run stays claimable until
  // claimed, so that reader, or one at work, will claim it.
  bool wakePending_ = false;
  bool closing_ = false;
};
