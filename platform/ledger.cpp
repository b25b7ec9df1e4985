// The ledger of open files and memory regions. Fixed tables: an operation holds at most a few
// files and regions at a time, and the ledger itself must never allocate.
#include "platform/ledger.h"

namespace {

constexpr int kMaxFiles = 64;
constexpr int kMaxRegions = 64;
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
  ++filesOpenedSinceReset;
  for (FileEntry& entry : files) {
    if (entry.file == nullptr) {
      entry = FileEntry{file, filesOpenedSinceReset};
      return;
    }
  }
}

void NoteFileClosed(const void* file) {
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

void NoteThreadStarted() { ++threadsRunning; }
void NoteThreadJoined() { --threadsRunning; }

void ResetLedger() {
  eventCount = 0;
  filesOpenedSinceReset = 0;
  regionsAcquiredSinceReset = 0;
  committedPeak = committedNow;
}

uint32_t OpenFileCount() {
  uint32_t count = 0;
  for (const FileEntry& entry : files) count += entry.file != nullptr;
  return count;
}

uint32_t HeldRegionCount() {
  uint32_t count = 0;
  for (const RegionEntry& entry : regions) count += entry.region != nullptr;
  return count;
}

uint32_t RunningThreadCount() { return threadsRunning; }
uint64_t CommittedBytes() { return committedNow; }
uint64_t PeakCommittedBytes() { return committedPeak; }
uint32_t ReleaseEventCount() { return eventCount < kMaxEvents ? eventCount : kMaxEvents; }
ReleaseEvent ReleaseEventAt(uint32_t index) { return events[index]; }
