// Folders through descriptors: every name is opened relative to its parent's descriptor with
// O_NOFOLLOW, and kinds come from fstatat without following, so no link is ever followed at
// any depth, also when one appears between a listing and an open. Whether a folder ignores
// letter case is gathered from statfs, the folder's flags and the mount table, and decided
// by the core (core/linux_file_systems.h).
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "core/linux_file_systems.h"
#include "core/ntfs_upcase.h"
#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/posix/descriptors.h"
#include "platform/posix/temporaries.h"

namespace {

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISDIR(mode)) return EntryKind::Folder;
  if (S_ISLNK(mode)) return EntryKind::Link;
  return EntryKind::Other;
}

// After an open refused with O_NOFOLLOW or O_DIRECTORY, says what stands there: a link (the
// system says "not a folder" or "too many links" for it), or something that is no folder.
SystemError ExplainRefusal(int parent, const char* name, bool wantFolder) {
  const int error = errno;
  struct stat info;
  if ((error != ENOTDIR && error != ELOOP) || fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return Failure(error);
  if (S_ISLNK(info.st_mode)) return Failure(ELOOP);
  return Failure(wantFolder ? ENOTDIR : error);
}

int OpenAt(int parent, const char* name, int flags) {
  int fd;
  do {
    fd = openat(parent, name, flags | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A name that is one component: no separator, not empty, not "." or "..".
bool IsOneComponent(const char* name) {
  return name[0] != '\0' && std::strchr(name, '/') == nullptr && std::strcmp(name, ".") != 0 &&
         std::strcmp(name, "..") != 0;
}

SystemError RefuseName() { return Failure(EINVAL); }

// What glibc's DIR reads at once.
constexpr size_t kListingBufferBytes = 32768;

// Some file systems cannot sync a folder.
SystemError FlushFolder(int fd) { return fsync(fd) == 0 || errno == EINVAL ? SystemError{} : Errno(); }

SystemError OpenFolderAt(int parent, const char* name, HeldFileWaits* waits, FolderHandle* folder) {
  const int fd = OpenAt(parent, name, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return ExplainRefusal(parent, name, true);
  *folder = FolderOf(fd, waits);
  return SystemError{};
}

}  // namespace

bool NamesFolder(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

SystemError OpenFolder(const char* path, HeldFileWaits* waits, FolderHandle* folder) {
  if (const SystemError failed = Fault(Service::OpenFolder)) return failed;
  return OpenFolderAt(AT_FDCWD, path, waits, folder);
}

SystemError OpenSubfolder(const FolderHandle& parent, const char* name, FolderHandle* folder) {
  if (const SystemError failed = Fault(Service::OpenSubfolder)) return failed;
  if (!IsOneComponent(name)) return RefuseName();
  return OpenFolderAt(Descriptor(parent), name, parent.waits(), folder);
}

SystemError CreateSubfolder(const FolderHandle& parent, const char* name) {
  if (const SystemError failed = Fault(Service::CreateSubfolder)) return failed;
  if (!IsOneComponent(name)) return RefuseName();
  if (mkdirat(Descriptor(parent), name, 0777) != 0) return Errno();
  return FlushFolder(Descriptor(parent));
}

SystemError ListFolder(const FolderHandle& folder, FolderEntryVisitor visit, void* context) {
  if (const SystemError failed = Fault(Service::ListFolder)) return failed;
  // The listing gets a descriptor of its own, read from the start, so that the folder's
  // handle stays as it was.
  const int fd = openat(Descriptor(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Errno();
  // Read with getdents64 itself, in the buffer a DIR would have (from malloc, as there): a DIR
  // would first look at the descriptor three more times (its kind, its flags, FD_CLOEXEC),
  // for each folder listed.
  auto* buffer = static_cast<char*>(std::malloc(kListingBufferBytes));
  if (buffer == nullptr) {
    close(fd);
    return Failure(ENOMEM);
  }
  SystemError result;
  for (bool more = true; more;) {
    const ssize_t got = getdents64(fd, buffer, kListingBufferBytes);
    // A folder removed while it is listed ends its listing, as readdir has it.
    if (got <= 0) {
      if (got < 0 && errno != ENOENT) result = Errno();
      break;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      struct stat info;
      if (fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        // Gone since the folder was read: nothing to list.
        if (errno == ENOENT) continue;
        result = Errno();
        more = false;
        break;
      }
      const EntryKind kind = KindOf(info.st_mode);
      const FolderEntry listed{entry->d_name, kind, kind == EntryKind::File ? static_cast<uint64_t>(info.st_size) : 0};
      if ((result = visit(context, listed))) {
        more = false;
        break;
      }
    }
  }
  std::free(buffer);
  close(fd);
  return result;
}

SystemError GetEntryKind(const FolderHandle& parent, const char* name, EntryKind* kind) {
  if (const SystemError failed = Fault(Service::GetEntryKind)) return failed;
  if (!IsOneComponent(name)) return RefuseName();
  struct stat info;
  if (fstatat(Descriptor(parent), name, &info, AT_SYMLINK_NOFOLLOW) != 0) return Errno();
  *kind = KindOf(info.st_mode);
  return SystemError{};
}

namespace {

// The open of OpenFileIn, with the size from AdoptDescriptor's look where size is given.
SystemError OpenIn(const FolderHandle& parent, const char* name, FileAccess access, File* file, uint64_t* size) {
  if (const SystemError failed = Fault(Service::OpenFileIn)) return failed;
  if (!IsOneComponent(name)) return RefuseName();
  // Without blocking, so that a pipe cannot hold the open up; AdoptDescriptor refuses it.
  const int fd = OpenAt(Descriptor(parent), name, (access == FileAccess::ReadWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK);
  if (fd < 0) return ExplainRefusal(Descriptor(parent), name, false);
  // A reader lets a writer of another name of the file beside it, as on Windows.
  return AdoptDescriptor(fd, access, access == FileAccess::ReadOnly, parent.waits(), false, file, size);
}

}  // namespace

SystemError OpenFileIn(const FolderHandle& parent, const char* name, FileAccess access, File* file) {
  return OpenIn(parent, name, access, file, nullptr);
}

SystemError OpenFileInWithSize(const FolderHandle& parent, const char* name, File* file, uint64_t* size, bool* sizeFailed) {
  *sizeFailed = false;
  File opened;
  uint64_t taken = 0;
  if (const SystemError failed = OpenIn(parent, name, FileAccess::ReadOnly, &opened, &taken)) return failed;
  // The size's own fault, as GetFileSize64 would take it; the open file's look cannot fail again.
  if (const SystemError failed = Fault(Service::GetFileSize64)) {
    *sizeFailed = true;
    return failed;
  }
  *size = taken;
  *file = std::move(opened);
  return SystemError{};
}

SystemError CreateTemporaryIn(const FolderHandle& parent, const char* finalName, char* temporaryName, uint32_t capacity,
                              File* file) {
  if (const SystemError failed = Fault(Service::CreateTemporaryIn)) return failed;
  if (!IsOneComponent(finalName)) return RefuseName();
  // A short name of its own, as for every output: one near the longest the system takes
  // still has a temporary, and nobody can plant files under it in advance.
  return MakeTemporary(Descriptor(parent), ".", finalName, 0, 0666, parent.waits(), temporaryName, capacity, file);
}

SystemError CreateTemporaryIn(const FolderHandle& parent, const char* finalName, uint32_t permissions, char* temporaryName,
                              uint32_t capacity, File* file) {
  if (const SystemError failed = Fault(Service::CreateTemporaryIn)) return failed;
  if (!IsOneComponent(finalName)) return RefuseName();
  const bool given = permissions != kNoPermissions;
  // Made with the bits already narrowed by the umask, so that it is never readable by more
  // than the valid file is, not even for a moment.
  const unsigned mode = given ? permissions & kCarriedPermissions : 0666;
  if (const SystemError failed =
          MakeTemporary(Descriptor(parent), ".", finalName, 0, mode, parent.waits(), temporaryName, capacity, file)) {
    return failed;
  }
  SystemError failed;
  // Made by root, it is the folder's owner's, as a file that owner made there would be.
  struct stat folder;
  if (geteuid() == 0 && (fstat(Descriptor(parent), &folder) != 0 || fchown(Descriptor(*file), folder.st_uid, folder.st_gid) != 0)) {
    failed = Errno();
  }
  // Then exactly the valid file's bits, which the umask may have narrowed.
  if (!failed && given && fchmod(Descriptor(*file), static_cast<mode_t>(mode)) != 0) failed = Errno();
  if (failed) {
    // A named one (a file system without unnamed files) goes with it.
    const bool named = TemporaryHasName(*file);
    *file = File();
    if (named) unlinkat(Descriptor(parent), temporaryName, 0);
  }
  return failed;
}

SystemError NameTemporaryIn(const FolderHandle& parent, File* file, char* temporaryName, uint32_t capacity) {
  if (const SystemError failed = Fault(Service::NameTemporary)) return failed;
  if (const SystemError failed = LinkTemporary(file, Descriptor(parent), temporaryName, 0, temporaryName, capacity)) {
    return failed;
  }
  return FlushFolder(Descriptor(parent));
}

SystemError RenameIn(const FolderHandle& parent, const char* from, const char* to, TakenName taken) {
  if (const SystemError failed = Fault(Service::RenameIn)) return failed;
  if (!IsOneComponent(from) || !IsOneComponent(to)) return RefuseName();
  const int fd = Descriptor(parent);
  // Either way the entry itself is renamed; a link of the new name is replaced, never followed.
  const int renamed = taken == TakenName::Replace ? renameat(fd, from, fd, to) : renameat2(fd, from, fd, to, RENAME_NOREPLACE);
  if (renamed != 0) return Errno();
  return FlushFolder(fd);
}

SystemError RemoveFileIn(const FolderHandle& parent, const char* name) {
  if (const SystemError failed = Fault(Service::RemoveFileIn)) return failed;
  if (!IsOneComponent(name)) return RefuseName();
  if (unlinkat(Descriptor(parent), name, 0) != 0) return Errno();
  return FlushFolder(Descriptor(parent));
}

SystemError RemoveFolderIn(const FolderHandle& parent, const char* name) {
  if (const SystemError failed = Fault(Service::RemoveFolderIn)) return failed;
  if (!IsOneComponent(name)) return RefuseName();
  if (unlinkat(Descriptor(parent), name, AT_REMOVEDIR) != 0) return Errno();
  return FlushFolder(Descriptor(parent));
}

namespace {

#ifndef FS_CASEFOLD_FL
constexpr int FS_CASEFOLD_FL = 0x40000000;
#endif

// The type and the options (the mount's, then the file system's) of the mount of a device,
// from /proc/self/mountinfo: "id parent major:minor root point options [tags] - type source
// super-options".
void ReadMount(dev_t device, std::string* type, std::string* options) {
  std::ifstream table("/proc/self/mountinfo");
  const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, point, mountOptions, field;
    fields >> id >> parent >> numbers >> root >> point >> mountOptions;
    if (numbers != wanted) continue;
    while (fields >> field && field != "-") {
    }
    std::string source, superOptions;
    fields >> *type >> source >> superOptions;
    *options = mountOptions + "," + superOptions;
    return;
  }
}

}  // namespace

bool FolderIgnoresCase(const FolderHandle& folder) {
  const int fd = Descriptor(folder);
  struct statfs system;
  if (fstatfs(fd, &system) != 0) return false;
  LinuxFolderFacts facts;
  facts.statfsType = static_cast<uint32_t>(system.f_type);
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) facts.caseFolded = (flags & FS_CASEFOLD_FL) != 0;
  std::string type, options;
  struct stat info;
  if (LinuxCaseDependsOnMount(facts.statfsType) && fstat(fd, &info) == 0) ReadMount(info.st_dev, &type, &options);
  facts.mountType = type;
  facts.mountOptions = options;
  return LinuxFolderIgnoresCase(facts);
}

uint16_t UpcaseNameUnit(uint16_t unit) { return NtfsUpcase(unit); }

// Linux has no cloud placeholders to expose.
void ExposeCloudPlaceholders() {}

NameLimits FileSystemNameLimits() {
  NameLimits limits;
  limits.ignoresCase = false;
  limits.windowsNames = false;
  limits.utf16Units = false;
  limits.longestComponent = NAME_MAX;
  limits.longestPath = PATH_MAX - 1;
  return limits;
}
