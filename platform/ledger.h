// Accounting of what the platform services hand out: open files and memory regions, the
// pages committed in them, and the order in which they come back. Tests assert that an
// operation leaves nothing behind and releases in its documented order; the POSIX backend
// also keeps each region's size here, which munmap needs.
#pragma once

#include <cstdint>

enum class Holding : char { File = 'F', Region = 'M' };

struct ReleaseEvent {
  Holding holding;
  uint32_t ordinal;  // 1 for the first file (or region) acquired since ResetLedger, and so on
};

// For the backends. NoteRegionAcquired returns 0 when the ledger is full.
void NoteFileOpened(const void* file);
void NoteFileClosed(const void* file);
int NoteRegionAcquired(const void* region, uint64_t size, uint64_t committedBytes);
void NoteRegionCommitted(const void* region, uint64_t bytes);
// Forgets a region and returns the size it was acquired with (0 when unknown).
uint64_t NoteRegionReleased(const void* region);
// The region that holds address, for page commits; null when none does.
const void* RegionHolding(const void* address);

// For the tests.
void ResetLedger();
uint32_t OpenFileCount();
uint32_t HeldRegionCount();
uint64_t CommittedBytes();
uint64_t PeakCommittedBytes();
uint32_t ReleaseEventCount();
ReleaseEvent ReleaseEventAt(uint32_t index);
