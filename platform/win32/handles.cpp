// Handles as Files and Folders: the fault switch, the last error as a failure, the checks
// every file handle passes, the opening of a file by its path, and the release of both.
#include "platform/win32/handles.h"

#include <cstring>

#include "core/windows_names.h"
#include "platform/win32/wide.h"

namespace {

// Whether the path names a device rather than a file: the device namespace ("\\.\PhysicalDrive0")
// or one of the reserved names, which name a device in every folder and with any extension
// ("CON", "c:\out\nul.txt"). Opening a device can have effects of its own, so it is not opened.
bool NamesDevice(const char* path) {
  if (std::strncmp(path, "\\\\.\\", 4) == 0) return true;
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  }
  return IsReservedDeviceName(name);
}

}  // namespace

SystemError Fault(Service service, uint32_t* shortBy) {
  uint32_t error = 0;
  return MustFail(service, &error, shortBy) ? Failure(error) : SystemError{};
}

SystemError Failure(DWORD error) { return SystemError{error != 0 ? error : static_cast<uint32_t>(ERROR_GEN_FAILURE)}; }

SystemError LastError() { return Failure(GetLastError()); }

FolderHandle FolderOf(HANDLE handle, HeldFileWaits* waits) {
  NoteFileOpened(handle);
  return FolderHandle(reinterpret_cast<PlatformFolder*>(handle), waits);
}

SystemError AdoptHandle(HANDLE handle, HeldFileWaits* waits, bool unnamed, File* file) {
  // A console, a pipe or a socket is no file to scan or repair.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return Failure(ERROR_NOT_SUPPORTED);
  }
  // A folder is a disk object too; Wine run by root even opens one for writing.
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileInformationByHandle(handle, &information) && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(handle);
    return Failure(ERROR_DIRECTORY);
  }
  NoteFileOpened(handle);
  *file = File(reinterpret_cast<PlatformFile*>(handle), waits, unnamed);
  return SystemError{};
}

SystemError OpenByPath(const char* path, DWORD creation, DWORD access, HeldFileWaits* waits, bool unnamed, File* file) {
  if (NamesDevice(path)) return Failure(ERROR_NOT_SUPPORTED);
  const SystemPath wide(path);
  if (!wide.ok()) return LastError();
  HANDLE handle = CreateFileW(wide.c_str(), access, FILE_SHARE_READ, nullptr, creation,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // The system refuses a folder as "access denied", which sends the user looking at
    // permissions; say what it is instead.
    if (GetLastError() == ERROR_ACCESS_DENIED) {
      const DWORD attributes = GetFileAttributesW(wide.c_str());
      return Failure(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_DIRECTORY
                                                                                                          : ERROR_ACCESS_DENIED);
    }
    return LastError();
  }
  return AdoptHandle(handle, waits, unnamed, file);
}

// Every close is counted as one, whether its failure is asked for (Close) or not (Release).
SystemError File::Close() {
  if (handle_ == nullptr) return SystemError{};
  HANDLE handle = reinterpret_cast<HANDLE>(handle_);
  NoteFileClosed(handle_);
  handle_ = nullptr;
  const SystemError closed = CloseHandle(handle) != 0 ? SystemError{} : LastError();
  if (const SystemError failed = Fault(Service::CloseFile)) return failed;
  return closed;
}

void File::Release() { static_cast<void>(Close()); }

void FolderHandle::Release() {
  if (handle_ == nullptr) return;
  NoteFileClosed(handle_);
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = nullptr;
}
