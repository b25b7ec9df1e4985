// Temporaries that the system removes if the run dies: O_TMPFILE files, linked under a name
// through /proc/self/fd only once complete, or, where the file system lacks them, named files
// held under flock while they are written; and the removal of those earlier runs left behind,
// only those no process holds.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/posix/descriptors.h"
#include "platform/temporary_name.h"

namespace {

int Descriptor(FileHandle file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }
int FolderDescriptor(FolderHandle folder) { return static_cast<int>(reinterpret_cast<intptr_t>(folder) - 1); }

// The file system or the kernel has no unnamed files: then a named one is made.
bool NoUnnamedFiles(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

// Composes a fresh name behind the prefix's first prefixLength bytes into name.
int Compose(const char* prefix, uint32_t prefixLength, char* name, uint32_t capacity) {
  uint64_t random;
  if (!TemporaryRandom(&random)) return 0;
  char composed[4096 + 64];
  if (!ComposeTemporaryPath(prefix, prefixLength, random, composed, sizeof composed) || std::strlen(composed) >= capacity) {
    errno = ENAMETOOLONG;
    return 0;
  }
  std::strcpy(name, composed);
  return 1;
}

int Close(int fd, int error) {
  close(fd);
  errno = error;
  return 0;
}

// Removes the temporary of that name when nobody holds it (a writer keeps its lock as long as
// it writes) and its size is none of the spared. 1 when it was removed.
int RemoveIfStale(int folderFd, const char* name, const uint64_t* spareSizes, size_t spareCount) {
  const int fd = openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return 0;
  struct stat held;
  struct stat named;
  int removed = 0;
  if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
      std::find(spareSizes, spareSizes + spareCount, static_cast<uint64_t>(held.st_size)) == spareSizes + spareCount &&
      flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      fstatat(folderFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev &&
      named.st_ino == held.st_ino) {
    removed = unlinkat(folderFd, name, 0) == 0;
  }
  close(fd);
  return removed;
}

}  // namespace

FileHandle MakeTemporary(int folderFd, const char* folder, const char* prefix, uint32_t prefixLength, unsigned mode,
                         char* name, uint32_t capacity) {
  int fd;
  do {
    fd = openat(folderFd, folder, O_TMPFILE | O_RDWR | O_CLOEXEC, static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    // Held from the start, so that its name, once it has one, is never taken for a leftover.
    if (flock(fd, LOCK_EX) != 0 || !Compose(prefix, prefixLength, name, capacity)) return Close(fd, errno), nullptr;
    FileHandle file = AdoptDescriptor(fd, false);
    if (file != nullptr) MarkUnnamed(file, true);
    return file;
  }
  if (!NoUnnamedFiles(errno)) return nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (!Compose(prefix, prefixLength, name, capacity)) return nullptr;
    do {
      fd = openat(folderFd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                  static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      if (errno != EEXIST) return nullptr;
      continue;
    }
    // Between the creation and the lock another run may have taken it for a leftover and
    // removed it: then it has no name any more, and another is made.
    struct stat info;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &info) != 0 || info.st_nlink == 0) {
      close(fd);
      continue;
    }
    return AdoptDescriptor(fd, false);
  }
  errno = EEXIST;
  return nullptr;
}

int LinkTemporary(FileHandle file, int folderFd, const char* prefix, uint32_t prefixLength, char* name, uint32_t capacity) {
  if (!IsUnnamed(file)) return 1;
  char through[64];
  std::snprintf(through, sizeof through, "/proc/self/fd/%d", Descriptor(file));
  for (int attempt = 0; attempt < 100; ++attempt) {
    int linked = linkat(AT_FDCWD, through, folderFd, name, AT_SYMLINK_FOLLOW);
    // Without /proc, the one other way, which needs a privilege most runs lack.
    if (linked != 0 && errno == ENOENT) linked = linkat(Descriptor(file), "", folderFd, name, AT_EMPTY_PATH);
    if (linked == 0) {
      MarkUnnamed(file, false);
      return 1;
    }
    if (errno != EEXIST || !Compose(prefix, prefixLength, name, capacity)) return 0;
  }
  return 0;
}

int RemoveStaleTemporariesIn(FolderHandle folder, const uint64_t* spareSizes, size_t spareCount, uint32_t* removed) {
  *removed = 0;
  if (MustFail(Service::RemoveStaleTemporaries)) return 0;
  const int folderFd = FolderDescriptor(folder);
  const int fd = openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) return Close(fd, errno);
  int result = 1;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing);
    if (entry == nullptr) {
      result = errno == 0;
      break;
    }
    if (IsTemporaryName(entry->d_name)) *removed += static_cast<uint32_t>(RemoveIfStale(folderFd, entry->d_name, spareSizes, spareCount));
  }
  const int error = errno;
  closedir(listing);
  errno = error;
  return result;
}
