// Files through kernel32: CreateFileA with the engine's access and share modes, and whole
// reads and writes whose transferred count must match the count asked.
#include <windows.h>

#include "platform/fault_injection.h"
#include "platform/ledger.h"
#include "platform/platform.h"

namespace {

HANDLE Native(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// Counts the call; on an armed plain failure sets the error and returns 1.
int Refused(Service service, DWORD* shortBy) {
  uint32_t error = 0;
  FaultKind kind = FaultKind::Fail;
  *shortBy = 0;
  if (!TakeFault(service, &error, &kind)) return 0;
  if (kind == FaultKind::ShortTransfer) {
    *shortBy = 1;
    return 0;
  }
  SetLastError(error);
  return 1;
}

FileHandle Open(Service service, const char* path, DWORD creation) {
  DWORD unused;
  if (Refused(service, &unused)) return nullptr;
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, creation,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  NoteFileOpened(handle);
  return reinterpret_cast<FileHandle>(handle);
}

}  // namespace

FileHandle OpenInputFile(const char* path) { return Open(Service::OpenInputFile, path, OPEN_EXISTING); }

FileHandle CreateOutputFile(const char* path) { return Open(Service::CreateOutputFile, path, CREATE_ALWAYS); }

int GetFileSize32(FileHandle file, uint32_t* size) {
  DWORD unused;
  if (Refused(Service::GetFileSize32, &unused)) return 0;
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

int ReadWhole(FileHandle file, void* buffer, uint32_t count) {
  DWORD shortBy;
  if (Refused(Service::ReadWhole, &shortBy)) return 0;
  const DWORD asked = count >= shortBy ? count - shortBy : 0;
  DWORD transferred = 0;
  if (!ReadFile(Native(file), buffer, asked, &transferred, nullptr)) return 0;
  if (transferred != count) {
    SetLastError(ERROR_HANDLE_EOF);
    return 0;
  }
  return 1;
}

int WriteWhole(FileHandle file, const void* buffer, uint32_t count) {
  DWORD shortBy;
  if (Refused(Service::WriteWhole, &shortBy)) return 0;
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
  DWORD unused;
  if (Refused(Service::SeekToStart, &unused)) return 0;
  return SetFilePointer(Native(file), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

void CloseFile(FileHandle file) {
  NoteFileClosed(file);
  CloseHandle(Native(file));
}
