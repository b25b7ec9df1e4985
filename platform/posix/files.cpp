// Files through open/pread/pwrite. Reads and writes loop until every byte is moved, since a
// single call may move less (Linux moves at most about 2 GiB per call); an early end of the
// file is a failure, never a silent success.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/posix/descriptors.h"

namespace {

// The most one call is asked to move.
constexpr uint32_t kLargestTransfer = 1u << 30;

// Moves count bytes (less shortBy) between the file and memory, transfer(done, chunk) moving
// the piece that starts done bytes in; fewer bytes fail with shortError.
template <typename Transfer>
SystemError Move(Transfer transfer, uint32_t count, uint32_t shortBy, int shortError) {
  const uint32_t asked = count >= shortBy ? count - shortBy : 0;
  uint32_t done = 0;
  while (done < asked) {
    const uint32_t chunk = asked - done < kLargestTransfer ? asked - done : kLargestTransfer;
    const ssize_t moved = transfer(done, chunk);
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0) return Errno();
    if (moved == 0) break;
    done += static_cast<uint32_t>(moved);
  }
  return done == count ? SystemError{} : Failure(shortError);
}

}  // namespace

SystemError OpenInputFile(const char* path, HeldFileWaits* waits, File* file, FileAccess access) {
  if (const SystemError failed = Fault(Service::OpenInputFile)) return failed;
  // The kind is looked at before anything is opened: opening a tape, a serial line or a
  // watchdog for writing has effects of its own. A folder is named as one, rather than met as
  // "permission denied". A name that is not there is for open to refuse.
  struct stat info;
  if (stat(path, &info) == 0) {
    if (S_ISDIR(info.st_mode)) return Failure(EISDIR);
    if (!S_ISREG(info.st_mode)) return Failure(ENOTSUP);
  }
  int fd;
  do {
    fd = open(path, (access == FileAccess::ReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Errno();
  // Checked again on the open file, which may have been swapped for another since the look.
  return AdoptDescriptor(fd, access, false, waits, false, file);
}

SystemError GetFileSize64(const File& file, uint64_t* size) {
  if (const SystemError failed = Fault(Service::GetFileSize64)) return failed;
  struct stat info;
  if (fstat(Descriptor(file), &info) != 0) return Errno();
  *size = static_cast<uint64_t>(info.st_size);
  return SystemError{};
}

SystemError ReadAt(const File& file, uint64_t offset, void* buffer, uint32_t count) {
  uint32_t shortBy;
  if (const SystemError failed = Fault(Service::ReadAt, &shortBy)) return failed;
  auto* bytes = static_cast<unsigned char*>(buffer);
  const int fd = Descriptor(file);
  return Move([&](uint32_t done, uint32_t chunk) { return pread(fd, bytes + done, chunk, static_cast<off_t>(offset + done)); },
              count, shortBy, ENODATA);
}

SystemError WriteAt(const File& file, uint64_t offset, const void* buffer, uint32_t count) {
  uint32_t shortBy;
  if (const SystemError failed = Fault(Service::WriteAt, &shortBy)) return failed;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  const int fd = Descriptor(file);
  return Move(
      [&](uint32_t done, uint32_t chunk) { return pwrite(fd, bytes + done, chunk, static_cast<off_t>(offset + done)); },
      count, shortBy, ENOSPC);
}

SystemError SetFileLength(const File& file, uint64_t length) {
  if (const SystemError failed = Fault(Service::SetFileLength)) return failed;
  int result;
  do {
    result = ftruncate(Descriptor(file), static_cast<off_t>(length));
  } while (result != 0 && errno == EINTR);
  return result == 0 ? SystemError{} : Errno();
}

SystemError FlushFile(const File& file) {
  if (const SystemError failed = Fault(Service::FlushFile)) return failed;
  return fsync(Descriptor(file)) == 0 ? SystemError{} : Errno();
}
