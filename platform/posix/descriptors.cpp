// Descriptors as handles: the files this process has open, of which one open for writing
// refuses any other open and one open for reading refuses a writer, and the release of every
// file and folder.
#include "platform/posix/descriptors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace {

// A file open, by device and inode, the descriptor that has it, whether it writes and whether
// it lets others write beside it.
struct Writer {
  int fd;
  dev_t device;
  ino_t inode;
  bool writes;
  bool sharesWriting;
};

// As many as are open: the table grows by doubling, from malloc, which no test's replacement
// of operator new reaches. The dialog's worker and its own thread may open files at once,
// hence the lock.
Writer* writers = nullptr;
size_t writerCount = 0;
size_t writerRoom = 0;
std::mutex writersLock;

// Whether an open of the file is refused by one already open, as Windows' share modes refuse
// it: a writer where an open one does not share writing, or anything that does not share
// writing where one writes.
bool HeldAgainst(const Writer& wanted) {
  for (size_t i = 0; i < writerCount; ++i) {
    const Writer& open = writers[i];
    if (open.device != wanted.device || open.inode != wanted.inode) continue;
    if ((wanted.writes && !open.sharesWriting) || (open.writes && !wanted.sharesWriting)) return true;
  }
  return false;
}

// Takes the writer into the table; ENOMEM when it cannot grow.
int AddWriter(const Writer& writer) {
  if (writerCount == writerRoom) {
    const size_t room = writerRoom == 0 ? 16 : 2 * writerRoom;
    auto* grown = static_cast<Writer*>(std::realloc(writers, room * sizeof(Writer)));
    if (grown == nullptr) return ENOMEM;
    writers = grown;
    writerRoom = room;
  }
  writers[writerCount++] = writer;
  return 0;
}

void RemoveWriter(int fd) {
  std::lock_guard<std::mutex> lock(writersLock);
  for (size_t i = 0; i < writerCount; ++i) {
    if (writers[i].fd == fd) {
      writers[i] = writers[--writerCount];
      return;
    }
  }
}

SystemError Abandon(int fd, int error) {
  close(fd);
  return Failure(error);
}

// Why a file of this type cannot be taken; 0 for a regular file.
int RefusalFor(mode_t mode) {
  if (S_ISREG(mode)) return 0;
  return S_ISDIR(mode) ? EISDIR : ENOTSUP;
}

}  // namespace

SystemError Fault(Service service, uint32_t* shortBy) {
  uint32_t error = 0;
  return MustFail(service, &error, shortBy) ? Failure(static_cast<int>(error)) : SystemError{};
}

SystemError Failure(int error) { return SystemError{static_cast<uint32_t>(error != 0 ? error : EIO)}; }

SystemError Errno() { return Failure(errno); }

int Descriptor(const File& file) { return static_cast<int>(reinterpret_cast<intptr_t>(file.handle()) - 1); }
int Descriptor(const FolderHandle& folder) { return static_cast<int>(reinterpret_cast<intptr_t>(folder.handle()) - 1); }

FolderHandle FolderOf(int fd, HeldFileWaits* waits) {
  auto* handle = reinterpret_cast<PlatformFolder*>(static_cast<intptr_t>(fd) + 1);
  NoteFileOpened(handle);
  return FolderHandle(handle, waits);
}

SystemError AdoptDescriptor(int fd, FileAccess access, bool sharesWriting, HeldFileWaits* waits, bool unnamed,
                            File* file, uint64_t* size) {
  struct stat info;
  if (fstat(fd, &info) != 0) return Abandon(fd, errno);
  if (const int refusal = RefusalFor(info.st_mode)) return Abandon(fd, refusal);
  // Opened without blocking so that a pipe could not hold the open up; plain files from here.
  // No open here sets another flag F_SETFL changes (O_APPEND, O_ASYNC, O_DIRECT, O_NOATIME),
  // so clearing them all clears O_NONBLOCK alone, without asking for the flags first.
  if (fcntl(fd, F_SETFL, 0) != 0) return Abandon(fd, errno);
  {
    const Writer opened{fd, info.st_dev, info.st_ino, access == FileAccess::ReadWrite, sharesWriting};
    std::lock_guard<std::mutex> lock(writersLock);
    if (HeldAgainst(opened)) return Abandon(fd, EBUSY);
    if (const int error = AddWriter(opened)) return Abandon(fd, error);
  }
  auto* handle = reinterpret_cast<PlatformFile*>(static_cast<intptr_t>(fd) + 1);
  NoteFileOpened(handle);
  *file = File(handle, waits, unnamed);
  if (size != nullptr) *size = static_cast<uint64_t>(info.st_size);
  return SystemError{};
}

// Every close is counted as one, whether its failure is asked for (Close) or not (Release).
SystemError File::Close() {
  if (handle_ == nullptr) return SystemError{};
  const int fd = Descriptor(*this);
  NoteFileClosed(handle_);
  RemoveWriter(fd);
  handle_ = nullptr;
  // A failed close still frees the descriptor on Linux; retrying it could close another's.
  const int closed = close(fd) == 0 || errno == EINTR;
  const int error = errno;
  if (const SystemError failed = Fault(Service::CloseFile)) return failed;
  return closed ? SystemError{} : Failure(error);
}

void File::Release() { static_cast<void>(Close()); }

void FolderHandle::Release() {
  if (handle_ == nullptr) return;
  NoteFileClosed(handle_);
  close(Descriptor(*this));
  handle_ = nullptr;
}
