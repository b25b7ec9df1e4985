// Zero-filled memory from VirtualAlloc, committed whole.
#include <windows.h>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/win32/handles.h"

namespace {

uint64_t RoundToPages(uint64_t bytes) { return (bytes + kPageSize - 1) / kPageSize * kPageSize; }

}  // namespace

SystemError CommitMemory(uint32_t size, Memory* memory) {
  if (const SystemError failed = Fault(Service::CommitMemory)) return failed;
  void* region = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  if (region == nullptr) return LastError();
  if (!NoteRegionAcquired(region, size, RoundToPages(size))) {
    VirtualFree(region, 0, MEM_RELEASE);
    return Failure(ERROR_NOT_ENOUGH_MEMORY);
  }
  *memory = Memory(region);
  return SystemError{};
}

void Memory::Release() {
  if (region_ == nullptr) return;
  NoteRegionReleased(region_);
  VirtualFree(region_, 0, MEM_RELEASE);
  region_ = nullptr;
}
