// Files through kernel32: CreateFileW with the dialog's access and share modes, and whole
// reads and writes whose transferred count must match the count asked. Paths are UTF-8 and
// reach the system as UTF-16 (platform/win32/wide.h).
// rand_s, the runtime's generator from the system's own source of randomness, is declared only
// on request, before the runtime's headers are read.
#define _CRT_RAND_S
#include <stdlib.h>
#include <windows.h>

#include <cstring>

#include "core/windows_names.h"
#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/temporary_name.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

int MustFail(Service service, DWORD* shortBy) {
  uint32_t error = 0;
  FaultKind kind = FaultKind::Fail;
  if (shortBy != nullptr) *shortBy = 0;
  if (!TakeFault(service, &error, &kind)) return 0;
  if (kind == FaultKind::ShortTransfer && shortBy != nullptr) {
    *shortBy = 1;
    return 0;
  }
  SetLastError(error);
  return 1;
}

namespace {

HANDLE Native(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

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

FileHandle AdoptHandle(HANDLE handle) {
  // A console, a pipe or a socket is no file to scan or repair.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  // A folder is a disk object too; Wine run by root even opens one for writing.
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileInformationByHandle(handle, &information) && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(handle);
    SetLastError(ERROR_DIRECTORY);
    return nullptr;
  }
  NoteFileOpened(handle);
  return reinterpret_cast<FileHandle>(handle);
}

namespace {

FileHandle OpenHandle(const char* path, DWORD creation) {
  if (NamesDevice(path)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  const SystemPath wide(path);
  if (!wide.ok()) return nullptr;
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, creation,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // The system refuses a folder as "access denied", which sends the user looking at
    // permissions; say what it is instead.
    if (GetLastError() == ERROR_ACCESS_DENIED) {
      const DWORD attributes = GetFileAttributesW(wide.c_str());
      SetLastError(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                       ? ERROR_DIRECTORY
                       : ERROR_ACCESS_DENIED);
    }
    return nullptr;
  }
  return AdoptHandle(handle);
}

FileHandle Open(Service service, const char* path, DWORD creation) {
  if (MustFail(service)) return nullptr;
  return OpenHandle(path, creation);
}

FileHandle OpenInputOnce(const char* path) { return Open(Service::OpenInputFile, path, OPEN_EXISTING); }

// Moves count bytes (less shortBy) at offset, in pieces a single call can take.
template <typename Transfer>
int MoveAt(Transfer transfer, uint64_t offset, uint32_t count, DWORD shortBy, DWORD shortError) {
  const uint32_t asked = count >= shortBy ? count - shortBy : 0;
  uint32_t done = 0;
  while (done < asked) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD moved = 0;
    if (!transfer(done, asked - done, &moved, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return 0;
    }
    if (moved == 0) break;
    done += moved;
  }
  if (done != count) {
    SetLastError(shortError);
    return 0;
  }
  return 1;
}

}  // namespace

FileHandle OpenInputFile(const char* path) {
  HeldFileWait wait(true);
  for (;;) {
    FileHandle file = OpenInputOnce(path);
    if (file != nullptr || !wait.Again([path] { return PathOfText(path); })) return file;
  }
}

FileHandle CreateOutputFile(const char* path) { return Open(Service::CreateOutputFile, path, CREATE_ALWAYS); }

int GetFileSize32(FileHandle file, uint32_t* size) {
  if (MustFail(Service::GetFileSize32)) return 0;
  // Asking for the high half tells a real size of 0xFFFFFFFF from the failure value, and
  // shows files of 4 GiB or more, whose low half alone would be a wrong, wrapped size.
  DWORD high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = GetFileSize(Native(file), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
  if (high != 0 || low == INVALID_FILE_SIZE) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return 0;
  }
  *size = low;
  return 1;
}

namespace {

int ReadWholeOnce(FileHandle file, void* buffer, uint32_t count) {
  DWORD shortBy;
  if (MustFail(Service::ReadWhole, &shortBy)) return 0;
  const DWORD asked = count >= shortBy ? count - shortBy : 0;
  DWORD transferred = 0;
  if (!ReadFile(Native(file), buffer, asked, &transferred, nullptr)) return 0;
  if (transferred != count) {
    SetLastError(ERROR_HANDLE_EOF);
    return 0;
  }
  return 1;
}

int ReadAtOnce(FileHandle file, uint64_t offset, void* buffer, uint32_t count) {
  DWORD shortBy;
  if (MustFail(Service::ReadAt, &shortBy)) return 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  return MoveAt(
      [&](uint32_t done, uint32_t left, DWORD* moved, OVERLAPPED* at) {
        return ReadFile(Native(file), bytes + done, left, moved, at);
      },
      offset, count, shortBy, ERROR_HANDLE_EOF);
}

}  // namespace

// The dialog's own reads, from where the file stands, are not tried again; a lock another
// program holds is told with its name.
int ReadWhole(FileHandle file, void* buffer, uint32_t count) {
  HeldFileWait wait(false);
  if (ReadWholeOnce(file, buffer, count)) return 1;
  wait.GiveUp([file] { return PathOfHandle(Native(file)); });
  return 0;
}

int WriteWhole(FileHandle file, const void* buffer, uint32_t count) {
  DWORD shortBy;
  if (MustFail(Service::WriteWhole, &shortBy)) return 0;
  const DWORD asked = count >= shortBy ? count - shortBy : 0;
  DWORD transferred = 0;
  if (!WriteFile(Native(file), buffer, asked, &transferred, nullptr)) return 0;
  if (transferred != count) {
    SetLastError(ERROR_DISK_FULL);
    return 0;
  }
  return 1;
}

int SeekToStart(FileHandle file) {
  if (MustFail(Service::SeekToStart)) return 0;
  return SetFilePointer(Native(file), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

int FlushFile(FileHandle file) {
  if (MustFail(Service::FlushFile)) return 0;
  return FlushFileBuffers(Native(file)) != 0;
}

int CloseFile(FileHandle file) {
  NoteFileClosed(file);
  const int closed = CloseHandle(Native(file)) != 0;
  const DWORD error = GetLastError();
  if (MustFail(Service::CloseFile)) return 0;
  SetLastError(error);
  return closed;
}

int GetFileSize64(FileHandle file, uint64_t* size) {
  if (MustFail(Service::GetFileSize64)) return 0;
  LARGE_INTEGER bytes;
  if (!GetFileSizeEx(Native(file), &bytes)) return 0;
  *size = static_cast<uint64_t>(bytes.QuadPart);
  return 1;
}

// A read refused because another program locks the bytes is tried again.
int ReadAt(FileHandle file, uint64_t offset, void* buffer, uint32_t count) {
  HeldFileWait wait(false);
  for (;;) {
    if (ReadAtOnce(file, offset, buffer, count)) return 1;
    if (!wait.Again([file] { return PathOfHandle(Native(file)); })) return 0;
  }
}

int WriteAt(FileHandle file, uint64_t offset, const void* buffer, uint32_t count) {
  DWORD shortBy;
  if (MustFail(Service::WriteAt, &shortBy)) return 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  return MoveAt(
      [&](uint32_t done, uint32_t left, DWORD* moved, OVERLAPPED* at) {
        return WriteFile(Native(file), bytes + done, left, moved, at);
      },
      offset, count, shortBy, ERROR_DISK_FULL);
}

int SetFileLength(FileHandle file, uint64_t length) {
  if (MustFail(Service::SetFileLength)) return 0;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(length);
  return SetFilePointerEx(Native(file), at, nullptr, FILE_BEGIN) && SetEndOfFile(Native(file));
}

int TemporaryRandom(uint64_t* random) {
  unsigned int low = 0;
  unsigned int high = 0;
  if (rand_s(&low) != 0 || rand_s(&high) != 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  *random = uint64_t{high} << 32 | low;
  return 1;
}

FileHandle CreateTemporaryFile(const char* finalPath, FileHandle, char* temporaryPath, uint32_t capacity) {
  if (MustFail(Service::CreateTemporaryFile)) return nullptr;
  // The new file takes its folder's inherited access, as the dialog's own outputs do; copying
  // the source's security descriptor would need a library beyond the ones the program uses.
  uint32_t folderLength = 0;
  for (uint32_t i = 0; finalPath[i] != '\0'; ++i) {
    if (finalPath[i] == '\\' || finalPath[i] == '/') folderLength = i + 1;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t random;
    if (!TemporaryRandom(&random)) return nullptr;
    if (!ComposeTemporaryPath(finalPath, folderLength, random, temporaryPath, capacity)) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return nullptr;
    }
    if (FileHandle file = OpenHandle(temporaryPath, CREATE_NEW)) return file;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return nullptr;
  }
  return nullptr;
}

int ReplaceWithFile(const char* temporaryPath, const char* finalPath) {
  if (MustFail(Service::ReplaceWithFile)) return 0;
  const SystemPath from(temporaryPath);
  if (!from.ok()) return 0;
  const SystemPath to(finalPath);
  if (!to.ok()) return 0;
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int FlushFolderOf(const char*) {
  // The move above returns only once it is on the disk; there is nothing left to flush.
  return MustFail(Service::FlushFolder) ? 0 : 1;
}

int RemoveFile(const char* path) {
  if (MustFail(Service::RemoveFile)) return 0;
  const SystemPath wide(path);
  return wide.ok() && DeleteFileW(wide.c_str()) != 0;
}
