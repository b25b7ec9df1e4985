// What a file keeps beside its bytes that a folder repair carries: its permission bits and its
// modification time, read with fstat and set with futimens.
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/posix/descriptors.h"

SystemError GetFileStamp(const File& file, FileStamp* stamp) {
  if (const SystemError failed = Fault(Service::GetFileStamp)) return failed;
  struct stat info;
  if (fstat(Descriptor(file), &info) != 0) return Errno();
  stamp->permissions = static_cast<uint32_t>(info.st_mode) & kCarriedPermissions;
  stamp->seconds = static_cast<int64_t>(info.st_mtim.tv_sec);
  stamp->nanoseconds = static_cast<uint32_t>(info.st_mtim.tv_nsec);
  return SystemError{};
}

SystemError SetModificationTime(const File& file, const FileStamp& stamp) {
  if (const SystemError failed = Fault(Service::SetModificationTime)) return failed;
  // The access time stays as it is.
  const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(stamp.seconds), static_cast<long>(stamp.nanoseconds)}};
  return futimens(Descriptor(file), times) == 0 ? SystemError{} : Errno();
}
