// Files through open/read/write. Reads and writes loop until every byte is moved, since a
// single call may move less (Linux moves at most about 2 GiB per call); an early end of the
// file is a failure, never a silent success. Like a Windows file opened for writing and
// shared for reading only, a file this process holds cannot be opened a second time: an
// output path that names one of the operation's own inputs must not empty it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/fault_injection.h"
#include "platform/ledger.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kLargestTransfer = 1u << 30;

// Handles carry the descriptor plus one, so that descriptor 0 is not the null handle.
int Descriptor(FileHandle file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }
FileHandle Handle(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1); }

// The files this process holds open, by device and inode.
struct HeldFile {
  FileHandle file;  // null: a free slot
  dev_t device;
  ino_t inode;
};

HeldFile heldFiles[64];

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

// Counts the call; on an armed plain failure sets errno and returns 1.
int Refused(Service service, uint32_t* shortBy) {
  uint32_t error = 0;
  FaultKind kind = FaultKind::Fail;
  *shortBy = 0;
  if (!TakeFault(service, &error, &kind)) return 0;
  if (kind == FaultKind::ShortTransfer) {
    *shortBy = 1;
    return 0;
  }
  errno = static_cast<int>(error);
  return 1;
}

int Abandon(int fd, int error) {
  close(fd);
  errno = error;
  return 0;
}

// Takes the file opened as fd into the table, or refuses it when it is held already. An
// output file is emptied only after that check.
int Hold(int fd, bool empty) {
  struct stat info;
  if (fstat(fd, &info) != 0) return Abandon(fd, errno);
  if (IsHeld(info.st_dev, info.st_ino)) return Abandon(fd, EBUSY);
  HeldFile* slot = FindHeld(nullptr);
  if (slot == nullptr) return Abandon(fd, EMFILE);
  if (empty && ftruncate(fd, 0) != 0) return Abandon(fd, errno);
  *slot = HeldFile{Handle(fd), info.st_dev, info.st_ino};
  return 1;
}

FileHandle Open(Service service, const char* path, bool create) {
  uint32_t unused;
  if (Refused(service, &unused)) return nullptr;
  int fd;
  do {
    fd = open(path, (create ? O_CREAT : 0) | O_RDWR | O_CLOEXEC | O_NOCTTY, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 || !Hold(fd, create)) return nullptr;
  FileHandle file = Handle(fd);
  NoteFileOpened(file);
  return file;
}

}  // namespace

FileHandle OpenInputFile(const char* path) { return Open(Service::OpenInputFile, path, false); }

FileHandle CreateOutputFile(const char* path) { return Open(Service::CreateOutputFile, path, true); }

int GetFileSize32(FileHandle file, uint32_t* size) {
  uint32_t unused;
  if (Refused(Service::GetFileSize32, &unused)) return 0;
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
  if (Refused(Service::ReadWhole, &shortBy)) return 0;
  const uint32_t asked = count >= shortBy ? count - shortBy : 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  uint32_t done = 0;
  while (done < asked) {
    const uint32_t chunk = asked - done < kLargestTransfer ? asked - done : kLargestTransfer;
    const ssize_t got = read(Descriptor(file), bytes + done, chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return 0;
    if (got == 0) break;
    done += static_cast<uint32_t>(got);
  }
  if (done != count) {
    errno = EIO;
    return 0;
  }
  return 1;
}

int WriteWhole(FileHandle file, const void* buffer, uint32_t count) {
  uint32_t shortBy;
  if (Refused(Service::WriteWhole, &shortBy)) return 0;
  const uint32_t asked = count >= shortBy ? count - shortBy : 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  uint32_t done = 0;
  while (done < asked) {
    const uint32_t chunk = asked - done < kLargestTransfer ? asked - done : kLargestTransfer;
    const ssize_t put = write(Descriptor(file), bytes + done, chunk);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return 0;
    if (put == 0) break;
    done += static_cast<uint32_t>(put);
  }
  if (done != count) {
    errno = ENOSPC;
    return 0;
  }
  return 1;
}

int SeekToStart(FileHandle file) {
  uint32_t unused;
  if (Refused(Service::SeekToStart, &unused)) return 0;
  return lseek(Descriptor(file), 0, SEEK_SET) == 0;
}

void CloseFile(FileHandle file) {
  NoteFileClosed(file);
  if (HeldFile* held = FindHeld(file)) held->file = nullptr;
  close(Descriptor(file));
}
