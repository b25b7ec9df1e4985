// Files through open/read/write. Reads and writes loop until every byte is moved, since a
// single call may move less (Linux moves at most about 2 GiB per call); an early end of the
// file is a failure, never a silent success. Like a Windows file opened for writing and
// shared for reading only, a file this process holds cannot be opened a second time: an
// output path that names one of the operation's own inputs must not empty it.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/posix/descriptors.h"
#include "platform/temporary_name.h"

int MustFail(Service service, uint32_t* shortBy) {
  uint32_t error = 0;
  FaultKind kind = FaultKind::Fail;
  if (shortBy != nullptr) *shortBy = 0;
  if (!TakeFault(service, &error, &kind)) return 0;
  if (kind == FaultKind::ShortTransfer && shortBy != nullptr) {
    *shortBy = 1;
    return 0;
  }
  errno = static_cast<int>(error);
  return 1;
}

namespace {

constexpr uint32_t kLargestTransfer = 1u << 30;

// Handles carry the descriptor plus one, so that descriptor 0 is not the null handle.
int Descriptor(FileHandle file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }
FileHandle Handle(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1); }

// The files this process holds open, by device and inode. The dialog's worker and its own
// thread may open files at once, hence the lock.
struct HeldFile {
  FileHandle file;  // null: a free slot
  dev_t device;
  ino_t inode;
  bool unnamed;     // a temporary without a name yet
};

HeldFile heldFiles[64];
std::mutex heldFilesLock;

HeldFile* FindHeld(FileHandle file) {
  for (HeldFile& held : heldFiles) {
    if (held.file == file) return &held;
  }
  return nullptr;
}

bool IsHeld(dev_t device, ino_t inode) {
  for (const HeldFile& held : heldFiles) {
    if (held.file != nullptr && held.device == device && held.inode == inode) return true;
  }
  return false;
}

int Abandon(int fd, int error) {
  close(fd);
  errno = error;
  return 0;
}

// Why a file of this type cannot be taken; 0 for a regular file.
int RefusalFor(mode_t mode) {
  if (S_ISREG(mode)) return 0;
  return S_ISDIR(mode) ? EISDIR : ENOTSUP;
}

// Takes the file opened as fd into the table, or refuses it when it is not a regular file or
// is held already. An output file is emptied only after those checks.
int Hold(int fd, bool empty) {
  struct stat info;
  if (fstat(fd, &info) != 0) return Abandon(fd, errno);
  if (const int refusal = RefusalFor(info.st_mode)) return Abandon(fd, refusal);
  // Opened without blocking so that a pipe could not hold the open up; plain files from here.
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return Abandon(fd, errno);
  std::lock_guard<std::mutex> lock(heldFilesLock);
  if (IsHeld(info.st_dev, info.st_ino)) return Abandon(fd, EBUSY);
  HeldFile* slot = FindHeld(nullptr);
  if (slot == nullptr) return Abandon(fd, EMFILE);
  if (empty && ftruncate(fd, 0) != 0) return Abandon(fd, errno);
  *slot = HeldFile{Handle(fd), info.st_dev, info.st_ino, false};
  return 1;
}

FileHandle OpenDescriptor(const char* path, int flags, mode_t mode) {
  // The kind is looked at before anything is opened: opening a tape, a serial line or a
  // watchdog for writing has effects of its own. A folder is named as one, rather than met as
  // "permission denied". A name that is not there yet is for open to create or refuse. A new
  // exclusive name needs no look: it is created or refused as taken.
  struct stat info;
  if ((flags & O_EXCL) == 0 && stat(path, &info) == 0) {
    if (const int refusal = RefusalFor(info.st_mode)) {
      errno = refusal;
      return nullptr;
    }
  }
  int fd;
  do {
    fd = open(path, flags | O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  // Checked again on the open file, which may have been swapped for another since the look.
  const bool empty = (flags & O_CREAT) != 0 && (flags & O_EXCL) == 0;
  return AdoptDescriptor(fd, empty);
}

FileHandle Open(Service service, const char* path, int flags) {
  if (MustFail(service)) return nullptr;
  return OpenDescriptor(path, flags, 0666);
}

// Moves count bytes (less shortBy) between the file and memory at offset, or at the current
// position when offset is negative.
template <typename Transfer>
int Move(Transfer transfer, uint32_t count, uint32_t shortBy, int shortError) {
  const uint32_t asked = count >= shortBy ? count - shortBy : 0;
  uint32_t done = 0;
  while (done < asked) {
    const uint32_t chunk = asked - done < kLargestTransfer ? asked - done : kLargestTransfer;
    const ssize_t moved = transfer(done, chunk);
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0) return 0;
    if (moved == 0) break;
    done += static_cast<uint32_t>(moved);
  }
  if (done != count) {
    errno = shortError;
    return 0;
  }
  return 1;
}

}  // namespace

FileHandle AdoptDescriptor(int fd, bool empty) {
  if (!Hold(fd, empty)) return nullptr;
  FileHandle file = Handle(fd);
  NoteFileOpened(file);
  return file;
}

void MarkUnnamed(FileHandle file, bool unnamed) {
  std::lock_guard<std::mutex> lock(heldFilesLock);
  if (HeldFile* held = FindHeld(file)) held->unnamed = unnamed;
}

bool IsUnnamed(FileHandle file) {
  std::lock_guard<std::mutex> lock(heldFilesLock);
  const HeldFile* held = FindHeld(file);
  return held != nullptr && held->unnamed;
}

int TemporaryRandom(uint64_t* random) {
  ssize_t got;
  do {
    got = getrandom(random, sizeof *random, 0);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof *random)) return 1;
  if (got >= 0) errno = EIO;
  return 0;
}

FileHandle OpenInputFile(const char* path) { return Open(Service::OpenInputFile, path, 0); }

FileHandle CreateOutputFile(const char* path) { return Open(Service::CreateOutputFile, path, O_CREAT); }

int GetFileSize32(FileHandle file, uint32_t* size) {
  if (MustFail(Service::GetFileSize32)) return 0;
  struct stat info;
  if (fstat(Descriptor(file), &info) != 0) return 0;
  // The file formats carry 32-bit sizes, and 0xFFFFFFFF is the failure value of the
  // Windows size query; a wrapped size would describe a different file.
  if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) >= UINT32_MAX) {
    errno = EFBIG;
    return 0;
  }
  *size = static_cast<uint32_t>(info.st_size);
  return 1;
}

int ReadWhole(FileHandle file, void* buffer, uint32_t count) {
  uint32_t shortBy;
  if (MustFail(Service::ReadWhole, &shortBy)) return 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  const int fd = Descriptor(file);
  return Move([&](uint32_t done, uint32_t chunk) { return read(fd, bytes + done, chunk); }, count, shortBy, ENODATA);
}

int WriteWhole(FileHandle file, const void* buffer, uint32_t count) {
  uint32_t shortBy;
  if (MustFail(Service::WriteWhole, &shortBy)) return 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  const int fd = Descriptor(file);
  return Move([&](uint32_t done, uint32_t chunk) { return write(fd, bytes + done, chunk); }, count, shortBy, ENOSPC);
}

int SeekToStart(FileHandle file) {
  if (MustFail(Service::SeekToStart)) return 0;
  return lseek(Descriptor(file), 0, SEEK_SET) == 0;
}

int FlushFile(FileHandle file) {
  if (MustFail(Service::FlushFile)) return 0;
  return fsync(Descriptor(file)) == 0;
}

int CloseFile(FileHandle file) {
  NoteFileClosed(file);
  {
    std::lock_guard<std::mutex> lock(heldFilesLock);
    if (HeldFile* held = FindHeld(file)) held->file = nullptr;
  }
  // A failed close still frees the descriptor on Linux; retrying it could close another's.
  const int closed = close(Descriptor(file)) == 0 || errno == EINTR;
  const int error = errno;
  if (MustFail(Service::CloseFile)) return 0;
  errno = error;
  return closed;
}

int GetFileSize64(FileHandle file, uint64_t* size) {
  if (MustFail(Service::GetFileSize64)) return 0;
  struct stat info;
  if (fstat(Descriptor(file), &info) != 0) return 0;
  *size = static_cast<uint64_t>(info.st_size);
  return 1;
}

int ReadAt(FileHandle file, uint64_t offset, void* buffer, uint32_t count) {
  uint32_t shortBy;
  if (MustFail(Service::ReadAt, &shortBy)) return 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  const int fd = Descriptor(file);
  return Move([&](uint32_t done, uint32_t chunk) { return pread(fd, bytes + done, chunk, static_cast<off_t>(offset + done)); },
              count, shortBy, ENODATA);
}

int WriteAt(FileHandle file, uint64_t offset, const void* buffer, uint32_t count) {
  uint32_t shortBy;
  if (MustFail(Service::WriteAt, &shortBy)) return 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  const int fd = Descriptor(file);
  return Move(
      [&](uint32_t done, uint32_t chunk) { return pwrite(fd, bytes + done, chunk, static_cast<off_t>(offset + done)); },
      count, shortBy, ENOSPC);
}

int SetFileLength(FileHandle file, uint64_t length) {
  if (MustFail(Service::SetFileLength)) return 0;
  int result;
  do {
    result = ftruncate(Descriptor(file), static_cast<off_t>(length));
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

FileHandle CreateTemporaryFile(const char* finalPath, FileHandle source, char* temporaryPath, uint32_t capacity) {
  if (MustFail(Service::CreateTemporaryFile)) return nullptr;
  // The source's read and write bits and the owner's own: never more readable than what it
  // carries. The system then takes off what the umask (or a default ACL) forbids, as for any
  // new file, so the process-wide umask is never read, which only changing it could do.
  mode_t mode = 0600;
  if (source != nullptr) {
    struct stat sourceInfo;
    if (fstat(Descriptor(source), &sourceInfo) != 0) return nullptr;
    mode = (sourceInfo.st_mode & 0666) | 0600;
  }
  const char* slash = std::strrchr(finalPath, '/');
  const uint32_t folderLength = slash == nullptr ? 0 : static_cast<uint32_t>(slash - finalPath + 1);
  char folder[4096] = ".";
  if (slash == finalPath) {
    std::strcpy(folder, "/");
  } else if (slash != nullptr) {
    if (folderLength >= sizeof folder) {
      errno = ENAMETOOLONG;
      return nullptr;
    }
    std::memcpy(folder, finalPath, folderLength - 1);
    folder[folderLength - 1] = '\0';
  }
  return MakeTemporary(AT_FDCWD, folder, finalPath, folderLength, mode, temporaryPath, capacity);
}

int NameTemporaryFile(FileHandle file, char* temporaryPath, uint32_t capacity) {
  if (MustFail(Service::NameTemporary)) return 0;
  const char* slash = std::strrchr(temporaryPath, '/');
  const uint32_t folderLength = slash == nullptr ? 0 : static_cast<uint32_t>(slash - temporaryPath + 1);
  return LinkTemporary(file, AT_FDCWD, temporaryPath, folderLength, temporaryPath, capacity);
}

bool TemporaryHasName(FileHandle file) { return !IsUnnamed(file); }

int ReplaceWithFile(const char* temporaryPath, const char* finalPath) {
  if (MustFail(Service::ReplaceWithFile)) return 0;
  return rename(temporaryPath, finalPath) == 0;
}

int FlushFolderOf(const char* path) {
  if (MustFail(Service::FlushFolder)) return 0;
  char folder[4096];
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::strcpy(folder, ".");
  } else if (slash == path) {
    std::strcpy(folder, "/");
  } else {
    const size_t length = static_cast<size_t>(slash - path);
    if (length >= sizeof folder) return 1;
    std::memcpy(folder, path, length);
    folder[length] = '\0';
  }
  const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 1;
  const int flushed = fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync a folder
  const int error = errno;
  close(fd);
  errno = error;
  return flushed;
}

int RemoveFile(const char* path) {
  if (MustFail(Service::RemoveFile)) return 0;
  return unlink(path) == 0;
}
