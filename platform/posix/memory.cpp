// Zero-filled memory from anonymous mappings. Each mapping starts with one system page that
// records its length, which munmap needs; the caller's region begins right after it.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/posix/descriptors.h"

namespace {

// The system's page, which may be larger than the ledger's unit.
uint64_t SystemPage() {
  static const uint64_t page = [] {
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<uint64_t>(size) : uint64_t{kPageSize};
  }();
  return page;
}

uint64_t RoundUp(uint64_t bytes, uint64_t unit) { return (bytes + unit - 1) / unit * unit; }

// From this size on a region asks for transparent huge pages.
constexpr uint32_t kHugePageHint = 2u << 20;

}  // namespace

SystemError CommitMemory(uint32_t size, Memory* memory) {
  if (const SystemError failed = Fault(Service::CommitMemory)) return failed;
  if (size == 0) return Failure(EINVAL);
  const uint64_t header = SystemPage();
  const uint64_t mapped = header + RoundUp(size, SystemPage());
  auto* mapping = static_cast<unsigned char*>(mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (mapping == MAP_FAILED) return Errno();
  *reinterpret_cast<uint64_t*>(mapping) = mapped;
  unsigned char* region = mapping + header;
  if (!NoteRegionAcquired(region, size, RoundUp(size, kPageSize))) {
    munmap(mapping, mapped);
    return Failure(ENOMEM);
  }
  // A file image is filled once from end to end; faulting it in 4 KiB at a time costs more
  // than reading the file, so large regions ask for transparent huge pages. Only a hint:
  // where the system has none, or a limit forbids them, it falls back to small pages.
  if (size >= kHugePageHint) madvise(region, RoundUp(size, SystemPage()), MADV_HUGEPAGE);
  *memory = Memory(region);
  return SystemError{};
}

void Memory::Release() {
  if (region_ == nullptr) return;
  NoteRegionReleased(region_);
  unsigned char* mapping = static_cast<unsigned char*>(region_) - SystemPage();
  munmap(mapping, *reinterpret_cast<const uint64_t*>(mapping));
  region_ = nullptr;
}
