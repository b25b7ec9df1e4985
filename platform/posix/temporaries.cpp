// Temporaries that the system removes if the run dies: O_TMPFILE files, linked under a name
// through /proc/self/fd only once complete, or, where the file system lacks them, named files
// held under flock while they are written; the outputs made of them, renamed over their final
// names; and the removal of those earlier runs left behind, only those no process holds.
#include "platform/posix/temporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/hooks.h"
#include "platform/posix/descriptors.h"
#include "platform/temporary_name.h"

namespace {

// How many fresh names are tried before a folder is taken to refuse them all.
constexpr int kNameAttempts = 100;

// The file system or the kernel has no unnamed files: then a named one is made.
bool NoUnnamedFiles(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

// The unpredictable part of a temporary name, from the system's randomness.
SystemError TemporaryRandom(uint64_t* random) {
  ssize_t got;
  do {
    got = getrandom(random, sizeof *random, 0);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof *random)) return SystemError{};
  return got >= 0 ? Failure(EIO) : Errno();
}

// Composes a fresh name behind the prefix's first prefixLength bytes into name.
SystemError Compose(const char* prefix, uint32_t prefixLength, char* name, uint32_t capacity) {
  uint64_t random = 0;
  if (const SystemError failed = TemporaryRandom(&random)) return failed;
  char composed[PATH_MAX + kTemporaryNameRoom];
  if (!ComposeTemporaryPath(prefix, prefixLength, random, composed, sizeof composed) || std::strlen(composed) >= capacity) {
    return Failure(ENAMETOOLONG);
  }
  std::strcpy(name, composed);
  return SystemError{};
}

SystemError Abandon(int fd, SystemError error) {
  close(fd);
  return error;
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

// The length of the folder part of path, its last separator included; 0 for a bare name.
uint32_t FolderLength(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? 0 : static_cast<uint32_t>(slash - path + 1);
}

}  // namespace

SystemError MakeTemporary(int folderFd, const char* folder, const char* prefix, uint32_t prefixLength, unsigned mode,
                          HeldFileWaits* waits, char* name, uint32_t capacity, File* file) {
  int fd;
  do {
    fd = openat(folderFd, folder, O_TMPFILE | O_RDWR | O_CLOEXEC, static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    // Held from the start, so that its name, once it has one, is never taken for a leftover.
    if (flock(fd, LOCK_EX) != 0) return Abandon(fd, Errno());
    if (const SystemError failed = Compose(prefix, prefixLength, name, capacity)) return Abandon(fd, failed);
    return AdoptDescriptor(fd, FileAccess::ReadWrite, false, waits, true, file);
  }
  if (!NoUnnamedFiles(errno)) return Errno();
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    if (const SystemError failed = Compose(prefix, prefixLength, name, capacity)) return failed;
    do {
      fd = openat(folderFd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                  static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      if (errno != EEXIST) return Errno();
      continue;
    }
    // Between the creation and the lock another run may have taken it for a leftover and
    // removed it: then it has no name any more, and another is made.
    struct stat info;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &info) != 0 || info.st_nlink == 0) {
      close(fd);
      continue;
    }
    return AdoptDescriptor(fd, FileAccess::ReadWrite, false, waits, false, file);
  }
  return Failure(EEXIST);
}

SystemError LinkTemporary(File* file, int folderFd, const char* prefix, uint32_t prefixLength, char* name, uint32_t capacity) {
  if (TemporaryHasName(*file)) return SystemError{};
  char through[64];
  std::snprintf(through, sizeof through, "/proc/self/fd/%d", Descriptor(*file));
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    int linked = linkat(AT_FDCWD, through, folderFd, name, AT_SYMLINK_FOLLOW);
    // Without /proc, the one other way, which needs a privilege most runs lack.
    if (linked != 0 && errno == ENOENT) linked = linkat(Descriptor(*file), "", folderFd, name, AT_EMPTY_PATH);
    if (linked == 0) {
      file->Named();
      return SystemError{};
    }
    if (errno != EEXIST) return Errno();
    if (const SystemError failed = Compose(prefix, prefixLength, name, capacity)) return failed;
  }
  return Failure(EEXIST);
}

SystemError CreateTemporaryFile(const char* finalPath, const File* source, char* temporaryPath, uint32_t capacity,
                                File* file) {
  if (const SystemError failed = Fault(Service::CreateTemporaryFile)) return failed;
  // The source's read and write bits and the owner's own: never more readable than what it
  // carries. The system then takes off what the umask (or a default ACL) forbids, as for any
  // new file, so the process-wide umask is never read, which only changing it could do.
  mode_t mode = 0600;
  if (source != nullptr) {
    struct stat sourceInfo;
    if (fstat(Descriptor(*source), &sourceInfo) != 0) return Errno();
    mode = (sourceInfo.st_mode & 0666) | 0600;
  }
  const uint32_t folderLength = FolderLength(finalPath);
  char folder[PATH_MAX] = ".";
  if (folderLength == 1) {
    std::strcpy(folder, "/");
  } else if (folderLength > 1) {
    if (folderLength >= sizeof folder) return Failure(ENAMETOOLONG);
    std::memcpy(folder, finalPath, folderLength - 1);
    folder[folderLength - 1] = '\0';
  }
  return MakeTemporary(AT_FDCWD, folder, finalPath, folderLength, mode, nullptr, temporaryPath, capacity, file);
}

SystemError NameTemporaryFile(File* file, char* temporaryPath, uint32_t capacity) {
  if (const SystemError failed = Fault(Service::NameTemporary)) return failed;
  return LinkTemporary(file, AT_FDCWD, temporaryPath, FolderLength(temporaryPath), temporaryPath, capacity);
}

SystemError ReplaceWithFile(const char* temporaryPath, const char* finalPath) {
  if (const SystemError failed = Fault(Service::ReplaceWithFile)) return failed;
  return rename(temporaryPath, finalPath) == 0 ? SystemError{} : Errno();
}

SystemError FlushFolderOf(const char* path) {
  if (const SystemError failed = Fault(Service::FlushFolder)) return failed;
  char folder[PATH_MAX];
  const uint32_t folderLength = FolderLength(path);
  if (folderLength == 0) {
    std::strcpy(folder, ".");
  } else if (folderLength == 1) {
    std::strcpy(folder, "/");
  } else {
    if (folderLength > sizeof folder) return SystemError{};
    std::memcpy(folder, path, folderLength - 1);
    folder[folderLength - 1] = '\0';
  }
  const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return SystemError{};
  // Some file systems cannot sync a folder.
  const SystemError flushed = fsync(fd) == 0 || errno == EINVAL ? SystemError{} : Errno();
  close(fd);
  return flushed;
}

SystemError RemoveFile(const char* path) {
  if (const SystemError failed = Fault(Service::RemoveFile)) return failed;
  return unlink(path) == 0 ? SystemError{} : Errno();
}

SystemError RemoveStaleTemporariesIn(const FolderHandle& folder, const uint64_t* spareSizes, size_t spareCount,
                                     uint32_t* removed) {
  *removed = 0;
  if (const SystemError failed = Fault(Service::RemoveStaleTemporaries)) return failed;
  const int folderFd = Descriptor(folder);
  const int fd = openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Errno();
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) return Abandon(fd, Errno());
  SystemError result;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing);
    if (entry == nullptr) {
      if (errno != 0) result = Errno();
      break;
    }
    if (IsTemporaryName(entry->d_name)) *removed += static_cast<uint32_t>(RemoveIfStale(folderFd, entry->d_name, spareSizes, spareCount));
  }
  closedir(listing);
  return result;
}
