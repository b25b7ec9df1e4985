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
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "core/linux_file_systems.h"
#include "core/ntfs_upcase.h"
#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/posix/descriptors.h"
#include "platform/temporary_name.h"

namespace {

int Descriptor(FolderHandle folder) { return static_cast<int>(reinterpret_cast<intptr_t>(folder) - 1); }
FolderHandle FolderOf(int fd) { return reinterpret_cast<FolderHandle>(static_cast<intptr_t>(fd) + 1); }

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISDIR(mode)) return EntryKind::Folder;
  if (S_ISLNK(mode)) return EntryKind::Link;
  return EntryKind::Other;
}

// After an open refused with O_NOFOLLOW or O_DIRECTORY, says what stands there: a link (the
// system says "not a folder" or "too many links" for it), or something that is no folder.
void ExplainRefusal(int parent, const char* name, bool wantFolder) {
  const int error = errno;
  struct stat info;
  if (error != ENOTDIR && error != ELOOP) return;
  if (fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    errno = error;
    return;
  }
  if (S_ISLNK(info.st_mode)) {
    errno = ELOOP;
  } else {
    errno = wantFolder ? ENOTDIR : error;
  }
}

FolderHandle TakeFolder(int fd) {
  FolderHandle folder = FolderOf(fd);
  NoteFileOpened(folder);
  return folder;
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

int RefuseName() {
  errno = EINVAL;
  return 0;
}

int FlushFolder(int fd) { return fsync(fd) == 0 || errno == EINVAL; }

}  // namespace

bool NamesFolder(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

FolderHandle OpenFolder(const char* path) {
  if (MustFail(Service::OpenFolder)) return nullptr;
  const int fd = OpenAt(AT_FDCWD, path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) {
    ExplainRefusal(AT_FDCWD, path, true);
    return nullptr;
  }
  return TakeFolder(fd);
}

FolderHandle OpenSubfolder(FolderHandle parent, const char* name) {
  if (MustFail(Service::OpenSubfolder)) return nullptr;
  if (!IsOneComponent(name)) return RefuseName(), nullptr;
  const int fd = OpenAt(Descriptor(parent), name, O_RDONLY | O_DIRECTORY);
  if (fd < 0) {
    ExplainRefusal(Descriptor(parent), name, true);
    return nullptr;
  }
  return TakeFolder(fd);
}

int CreateSubfolder(FolderHandle parent, const char* name) {
  if (MustFail(Service::CreateSubfolder)) return 0;
  if (!IsOneComponent(name)) return RefuseName();
  if (mkdirat(Descriptor(parent), name, 0777) != 0) return 0;
  return FlushFolder(Descriptor(parent));
}

void CloseFolder(FolderHandle folder) {
  if (folder == nullptr) return;
  NoteFileClosed(folder);
  close(Descriptor(folder));
}

int ListFolder(FolderHandle folder, FolderEntryVisitor visit, void* context) {
  if (MustFail(Service::ListFolder)) return 0;
  // The listing gets a descriptor of its own, read from the start, so that the folder's
  // handle stays as it was.
  const int fd = openat(Descriptor(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
    return 0;
  }
  int result = 1;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing);
    if (entry == nullptr) {
      result = errno == 0;
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    struct stat info;
    if (fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      // Gone since the folder was read: nothing to list.
      if (errno == ENOENT) continue;
      result = 0;
      break;
    }
    const EntryKind kind = KindOf(info.st_mode);
    const FolderEntry listed{entry->d_name, kind, kind == EntryKind::File ? static_cast<uint64_t>(info.st_size) : 0};
    if (!visit(context, listed)) {
      result = 0;
      break;
    }
  }
  const int error = errno;
  closedir(listing);
  errno = error;
  return result;
}

int GetEntryKind(FolderHandle parent, const char* name, EntryKind* kind) {
  if (MustFail(Service::GetEntryKind)) return 0;
  if (!IsOneComponent(name)) return RefuseName();
  struct stat info;
  if (fstatat(Descriptor(parent), name, &info, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  *kind = KindOf(info.st_mode);
  return 1;
}

FileHandle OpenFileIn(FolderHandle parent, const char* name, FileAccess access) {
  if (MustFail(Service::OpenFileIn)) return nullptr;
  if (!IsOneComponent(name)) return RefuseName(), nullptr;
  // Without blocking, so that a pipe cannot hold the open up; AdoptDescriptor refuses it.
  const int fd = OpenAt(Descriptor(parent), name, (access == FileAccess::ReadWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK);
  if (fd < 0) {
    ExplainRefusal(Descriptor(parent), name, false);
    return nullptr;
  }
  return AdoptDescriptor(fd, false);
}

FileHandle CreateTemporaryIn(FolderHandle parent, const char* finalName, char* temporaryName, uint32_t capacity) {
  if (MustFail(Service::CreateTemporaryIn)) return nullptr;
  if (!IsOneComponent(finalName)) return RefuseName(), nullptr;
  // A short name of its own, as for every output: one near the longest the system takes
  // still has a temporary, and nobody can plant files under it in advance.
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t random;
    if (!TemporaryRandom(&random)) return nullptr;
    if (!ComposeTemporaryPath(finalName, 0, random, temporaryName, capacity)) {
      errno = ENAMETOOLONG;
      return nullptr;
    }
    const int fd = OpenAt(Descriptor(parent), temporaryName, O_RDWR | O_CREAT | O_EXCL);
    if (fd >= 0) return AdoptDescriptor(fd, false);
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

int RenameIn(FolderHandle parent, const char* from, const char* to, TakenName taken) {
  if (MustFail(Service::RenameIn)) return 0;
  if (!IsOneComponent(from) || !IsOneComponent(to)) return RefuseName();
  const int fd = Descriptor(parent);
  // Either way the entry itself is renamed; a link of the new name is replaced, never followed.
  const int renamed = taken == TakenName::Replace ? renameat(fd, from, fd, to) : renameat2(fd, from, fd, to, RENAME_NOREPLACE);
  return renamed == 0 && FlushFolder(fd);
}

int RemoveFileIn(FolderHandle parent, const char* name) {
  if (MustFail(Service::RemoveFileIn)) return 0;
  if (!IsOneComponent(name)) return RefuseName();
  return unlinkat(Descriptor(parent), name, 0) == 0 && FlushFolder(Descriptor(parent));
}

int RemoveFolderIn(FolderHandle parent, const char* name) {
  if (MustFail(Service::RemoveFolderIn)) return 0;
  if (!IsOneComponent(name)) return RefuseName();
  return unlinkat(Descriptor(parent), name, AT_REMOVEDIR) == 0 && FlushFolder(Descriptor(parent));
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

bool FolderIgnoresCase(FolderHandle folder) {
  const int fd = Descriptor(folder);
  const int error = errno;
  struct statfs system;
  if (fstatfs(fd, &system) != 0) {
    errno = error;
    return false;
  }
  LinuxFolderFacts facts;
  facts.statfsType = static_cast<uint32_t>(system.f_type);
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) facts.caseFolded = (flags & FS_CASEFOLD_FL) != 0;
  std::string type, options;
  struct stat info;
  if (LinuxCaseDependsOnMount(facts.statfsType) && fstat(fd, &info) == 0) ReadMount(info.st_dev, &type, &options);
  facts.mountType = type;
  facts.mountOptions = options;
  errno = error;
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
