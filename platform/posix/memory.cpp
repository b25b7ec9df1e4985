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

// mapped is the length of the mapping, which munmap needs; committed what the ledger counts.
void* Acquire(uint64_t mapped, int protection, int flags, uint64_t committed) {
  if (mapped == 0) {
    errno = EINVAL;
    return nullptr;
  }
  void* region = mmap(nullptr, mapped, protection, MAP_PRIVATE | MAP_ANONYMOUS | flags, -1, 0);
  if (region == MAP_FAILED) return nullptr;
  if (!NoteRegionAcquired(region, mapped, committed)) {
    munmap(region, mapped);
    errno = ENOMEM;
    return nullptr;
  }
  return region;
}

// A region of 2 MiB pages from the pool the administrator reserved (vm.nr_hugepages), or
// null where there is none or too little. Pool pages stay with the pool between programs, so
// they are not faulted in and zeroed afresh from the system's free memory on each run, which
// is where a whole-file image spends most of its time on a busy machine. A private mapping
// takes its pages from the pool when it is made, so a short pool fails here, never later.
void* AcquireFromHugePagePool(uint32_t size) {
#if defined(MAP_HUGETLB) && defined(MAP_HUGE_SHIFT)
  const int errorBefore = errno;
  const uint64_t mapped = (uint64_t{size} + kHugePageHint - 1) / kHugePageHint * kHugePageHint;
  void* region = Acquire(mapped, PROT_READ | PROT_WRITE, MAP_HUGETLB | (21 << MAP_HUGE_SHIFT), RoundToPages(size));
  errno = errorBefore;
  return region;
#else
  (void)size;
  return nullptr;
#endif
}

}  // namespace

void* CommitMemory(uint32_t size) {
  if (Refused(Service::CommitMemory)) return nullptr;
  if (size >= kHugePageHint) {
    if (void* region = AcquireFromHugePagePool(size)) return region;
  }
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
