// Zero-filled memory from anonymous mappings: a committed region is readable and writable
// at once; a reservation is mapped without access and its pages are opened with mprotect.
#include <sys/mman.h>

#include <cerrno>
#include <cstdint>

#include "platform/fault_injection.h"
#include "platform/ledger.h"
#include "platform/platform.h"

namespace {

int Refused(Service service) {
  uint32_t error = 0;
  FaultKind kind = FaultKind::Fail;
  if (!TakeFault(service, &error, &kind)) return 0;
  errno = static_cast<int>(error);
  return 1;
}

constexpr uint32_t kHugePageHint = 2u << 20;

uint64_t RoundToPages(uint64_t bytes) { return (bytes + kPageSize - 1) / kPageSize * kPageSize; }

void* Acquire(uint32_t size, int protection, int flags, uint64_t committed) {
  if (size == 0) {
    errno = EINVAL;
    return nullptr;
  }
  void* region = mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS | flags, -1, 0);
  if (region == MAP_FAILED) return nullptr;
  if (!NoteRegionAcquired(region, size, committed)) {
    munmap(region, size);
    errno = ENOMEM;
    return nullptr;
  }
  return region;
}

}  // namespace

void* CommitMemory(uint32_t size) {
  if (Refused(Service::CommitMemory)) return nullptr;
  void* region = Acquire(size, PROT_READ | PROT_WRITE, 0, RoundToPages(size));
  // A file image is filled once from end to end; faulting it in 4 KiB at a time costs
  // more than reading the file, so large regions ask for huge pages where the system has
  // them. Only a hint: without them nothing changes.
  if (region != nullptr && size >= kHugePageHint) madvise(region, size, MADV_HUGEPAGE);
  return region;
}

void* ReserveMemory(uint32_t size) {
  if (Refused(Service::ReserveMemory)) return nullptr;
  return Acquire(size, PROT_NONE, MAP_NORESERVE, 0);
}

int CommitPage(void* address) {
  if (Refused(Service::CommitPage)) return 0;
  const void* region = RegionHolding(address);
  if (region == nullptr) {
    errno = EFAULT;
    return 0;
  }
  if (mprotect(address, kPageSize, PROT_READ | PROT_WRITE) != 0) return 0;
  NoteRegionCommitted(region, kPageSize);
  return 1;
}

void ReleaseMemory(void* region) {
  const uint64_t size = NoteRegionReleased(region);
  if (size != 0) munmap(region, size);
}
