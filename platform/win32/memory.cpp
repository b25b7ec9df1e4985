// Zero-filled memory from VirtualAlloc: whole committed regions, and reservations whose
// pages are committed one at a time.
#include <windows.h>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/win32/handles.h"

namespace {

uint64_t RoundToPages(uint64_t bytes) { return (bytes + kPageSize - 1) / kPageSize * kPageSize; }

void* Acquire(uint32_t size, DWORD allocation, uint64_t committed) {
  void* region = VirtualAlloc(nullptr, size, allocation, PAGE_READWRITE);
  if (region == nullptr) return nullptr;
  if (!NoteRegionAcquired(region, size, committed)) {
    VirtualFree(region, 0, MEM_RELEASE);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return region;
}

}  // namespace

void* CommitMemory(uint32_t size) {
  if (MustFail(Service::CommitMemory)) return nullptr;
  return Acquire(size, MEM_COMMIT, RoundToPages(size));
}

void* ReserveMemory(uint32_t size) {
  if (MustFail(Service::ReserveMemory)) return nullptr;
  return Acquire(size, MEM_RESERVE, 0);
}

int CommitPage(void* address) {
  if (MustFail(Service::CommitPage)) return 0;
  if (VirtualAlloc(address, kPageSize, MEM_COMMIT, PAGE_READWRITE) == nullptr) return 0;
  NoteRegionCommitted(address, kPageSize);
  return 1;
}

void ReleaseMemory(void* region) {
  NoteRegionReleased(region);
  VirtualFree(region, 0, MEM_RELEASE);
}
