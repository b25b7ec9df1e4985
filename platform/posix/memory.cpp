// Zero-filled memory from anonymous mappings: a committed region is readable and writable
// at once; a reservation is mapped without access and its pages are opened with mprotect.
// Each mapping starts with one system page that records its length, which munmap needs; the
// caller's region begins right after it.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/posix/descriptors.h"

namespace {

// The system's page, which may be larger than the engine's 4096-byte commit unit.
uint64_t SystemPage() {
  static const uint64_t page = [] {
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<uint64_t>(size) : uint64_t{kPageSize};
  }();
  return page;
}

uint64_t RoundUp(uint64_t bytes, uint64_t unit) { return (bytes + unit - 1) / unit * unit; }

constexpr uint32_t kHugePageHint = 2u << 20;

void* Acquire(uint32_t size, bool commit) {
  if (size == 0) {
    errno = EINVAL;
    return nullptr;
  }
  const uint64_t header = SystemPage();
  const uint64_t mapped = header + RoundUp(size, SystemPage());
  // A reservation promises no memory; its pages are charged as they are committed.
  const int protection = commit ? PROT_READ | PROT_WRITE : PROT_NONE;
  const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (commit ? 0 : MAP_NORESERVE);
  auto* mapping = static_cast<unsigned char*>(mmap(nullptr, mapped, protection, flags, -1, 0));
  if (mapping == MAP_FAILED) return nullptr;
  if (!commit && mprotect(mapping, header, PROT_READ | PROT_WRITE) != 0) {
    const int error = errno;
    munmap(mapping, mapped);
    errno = error;
    return nullptr;
  }
  *reinterpret_cast<uint64_t*>(mapping) = mapped;
  unsigned char* region = mapping + header;
  if (!NoteRegionAcquired(region, size, commit ? RoundUp(size, kPageSize) : 0)) {
    munmap(mapping, mapped);
    errno = ENOMEM;
    return nullptr;
  }
  // A file image is filled once from end to end; faulting it in 4 KiB at a time costs more
  // than reading the file, so large regions ask for transparent huge pages. Only a hint:
  // where the system has none, or a limit forbids them, it falls back to small pages.
  if (commit && size >= kHugePageHint) madvise(region, RoundUp(size, SystemPage()), MADV_HUGEPAGE);
  return region;
}

}  // namespace

void* CommitMemory(uint32_t size) {
  if (MustFail(Service::CommitMemory)) return nullptr;
  return Acquire(size, true);
}

void* ReserveMemory(uint32_t size) {
  if (MustFail(Service::ReserveMemory)) return nullptr;
  return Acquire(size, false);
}

int CommitPage(void* address) {
  if (MustFail(Service::CommitPage)) return 0;
  // The system page that holds the engine's 4096 bytes; on systems with larger pages a page
  // may be opened more than once, which changes nothing.
  const auto at = reinterpret_cast<uintptr_t>(address);
  const uintptr_t start = at / SystemPage() * SystemPage();
  const uint64_t length = RoundUp(at + kPageSize, SystemPage()) - start;
  if (mprotect(reinterpret_cast<void*>(start), length, PROT_READ | PROT_WRITE) != 0) return 0;
  NoteRegionCommitted(address, kPageSize);
  return 1;
}

void ReleaseMemory(void* region) {
  if (region == nullptr) return;
  NoteRegionReleased(region);
  unsigned char* mapping = static_cast<unsigned char*>(region) - SystemPage();
  munmap(mapping, *reinterpret_cast<const uint64_t*>(mapping));
}
