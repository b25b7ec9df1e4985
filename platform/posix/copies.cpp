// A copy that stands in for a file with more than one name: the file's own permission bits,
// owner and group (where the system lets this process give them) and times.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/posix/descriptors.h"

SystemError GetFileLinkCount(const File& file, uint32_t* links) {
  if (const SystemError failed = Fault(Service::GetFileLinkCount)) return failed;
  struct stat info;
  if (fstat(Descriptor(file), &info) != 0) return Errno();
  *links = static_cast<uint32_t>(info.st_nlink);
  return SystemError{};
}

SystemError CopyFileAttributes(const File& from, const File& to) {
  if (const SystemError failed = Fault(Service::CopyFileAttributes)) return failed;
  struct stat info;
  if (fstat(Descriptor(from), &info) != 0) return Errno();
  // The owner first, which may clear the set-user and set-group bits; a user who is not the
  // owner may not give it, and the copy stays theirs.
  if (fchown(Descriptor(to), info.st_uid, info.st_gid) != 0 && errno != EPERM) return Errno();
  if (fchmod(Descriptor(to), info.st_mode & 07777) != 0) return Errno();
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
  return futimens(Descriptor(to), times) == 0 ? SystemError{} : Errno();
}
