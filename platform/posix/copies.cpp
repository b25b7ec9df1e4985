// A copy that stands in for a file with more than one name: the file's own permission bits,
// owner and group (where the system lets this process give them) and times.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/posix/descriptors.h"

namespace {

int Descriptor(FileHandle file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }

}  // namespace

int GetFileLinkCount(FileHandle file, uint32_t* links) {
  if (MustFail(Service::GetFileLinkCount)) return 0;
  struct stat info;
  if (fstat(Descriptor(file), &info) != 0) return 0;
  *links = static_cast<uint32_t>(info.st_nlink);
  return 1;
}

int CopyFileAttributes(FileHandle from, FileHandle to) {
  if (MustFail(Service::CopyFileAttributes)) return 0;
  struct stat info;
  if (fstat(Descriptor(from), &info) != 0) return 0;
  // The owner first, which may clear the set-user and set-group bits; a user who is not the
  // owner may not give it, and the copy stays theirs.
  if (fchown(Descriptor(to), info.st_uid, info.st_gid) != 0 && errno != EPERM) return 0;
  if (fchmod(Descriptor(to), info.st_mode & 07777) != 0) return 0;
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
  return futimens(Descriptor(to), times) == 0;
}
