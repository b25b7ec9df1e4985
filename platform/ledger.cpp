// The ledger of open files and memory regions. Fixed tables: an operation holds a bounded number
// of files and regions at a time (a folder scan's readers included), and the ledger itself must
// never allocate. The readers report from their own threads, so every entry is made under a lock.
#include "platform/ledger.h"

#include <mutex>

namespace {

constexpr int kMaxFiles = 512;
constexpr int kMaxRegions = 128;
constexpr int kMaxEvents = 256;

struct FileEntry {
  const void* file;
  uint32_t ordinal;
};

struct RegionEntry {
  const void* region;
  uint64_t size;
  uint64_t committed;
  uint32_t ordinal;
};

FileEntry files[kMaxFiles];
RegionEntry regions[kMaxRegions];
ReleaseEvent events[kMaxEvents];
uint32_t eventCount;
uint32_t filesOpenedSinceReset;
uint32_t regionsAcquiredSinceReset;
uint64_t committedNow;
uint32_t threadsRunning;
uint64_t committedPeak;
std::mutex lock;

void Record(Holding holding, uint32_t ordinal) {
  if (eventCount < kMaxEvents) events[eventCount] = ReleaseEvent{holding, ordinal};
  ++eventCount;
}

void AddCommitted(uint64_t bytes) {
  committedNow += bytes;
  if (committedNow > committedPeak) committedPeak = committedNow;
}

}  // namespace

void NoteFileOpened(const void* file) {
  std::lock_guard<std::mutex> held(lock);
  ++filesOpenedSinceReset;
  for (FileEntry& entry : files) {
    if (entry.file == nullptr) {
      entry = FileEntry{file, filesOpenedSinceReset};
      return;
    }
  }
}

void NoteFileClosed(const void* file) {
  std::lock_guard<std::mutex> held(lock);
  if (file == nullptr) return;
  for (FileEntry& entry : files) {
    if (entry.file == file) {
      Record(Holding::File, entry.ordinal);
      entry = FileEntry{nullptr, 0};
      return;
    }
  }
}

int NoteRegionAcquired(const void* region, uint64_t size, uint64_t committedBytes) {
  std::lock_guard<std::mutex> held(lock);
  for (RegionEntry& entry : regions) {
    if (entry.region == nullptr) {
      entry = RegionEntry{region, size, committedBytes, ++regionsAcquiredSinceReset};
      AddCommitted(committedBytes);
      return 1;
    }
  }
  return 0;
}

void NoteRegionReleased(const void* region) {
  std::lock_guard<std::mutex> held(lock);
  if (region == nullptr) return;
  for (RegionEntry& entry : regions) {
    if (entry.region == region) {
      committedNow -= entry.committed;
      Record(Holding::Region, entry.ordinal);
      entry = RegionEntry{nullptr, 0, 0, 0};
      return;
    }
  }
}

void NoteThreadStarted() {
  std::lock_guard<std::mutex> held(lock);
  ++threadsRunning;
}
void NoteThreadJoined() {
  std::lock_guard<std::mutex> held(lock);
  --threadsRunning;
}

void ResetLedger() {
  std::lock_guard<std::mutex> held(lock);
  eventCount = 0;
  filesOpenedSinceReset = 0;
  regionsAcquiredSinceReset = 0;
  committedPeak = committedNow;
}

uint32_t OpenFileCount() {
  std::lock_guard<std::mutex> held(lock);
  uint32_t count = 0;
  for (const FileEntry& entry : files) count += entry.file != nullptr;
  return count;
}

uint32_t HeldRegionCount() {
  std::lock_guard<std::mutex> held(lock);
  uint32_t count = 0;
  for (const RegionEntry& entry : regions) count += entry.region != nullptr;
  return count;
}

uint32_t RunningThreadCount() {
  std::lock_guard<std::mutex> held(lock);
  return threadsRunning;
}
uint64_t CommittedBytes() {
  std::lock_guard<std::mutex> held(lock);
  return committedNow;
}
uint64_t PeakCommittedBytes() {
  std::lock_guard<std::mutex> held(lock);
  return committedPeak;
}
uint32_t ReleaseEventCount() {
  std::lock_guard<std::mutex> held(lock);
  return eventCount < kMaxEvents ? eventCount : kMaxEvents;
}
ReleaseEvent ReleaseEventAt(uint32_t index) {
  std::lock_guard<std::mutex> held(lock);
  return events[index];
}
