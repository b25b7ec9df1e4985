// Temporaries marked for deletion when their last handle closes, so that a run that dies
// leaves none behind; the mark is cleared just before the complete file is renamed over its
// final name.
#include <windows.h>

#include <cstring>
#include <mutex>
#include <new>
#include <set>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/win32/handles.h"

namespace {

// The temporaries whose mark is still set.
std::set<HANDLE> marked;
std::mutex markedLock;

int SetDeletion(HANDLE handle, BOOL deletion) {
  FILE_DISPOSITION_INFO disposition = {static_cast<BOOLEAN>(deletion)};
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

}  // namespace

FileHandle MarkTemporary(HANDLE handle) {
  if (!SetDeletion(handle, TRUE)) {
    const DWORD error = GetLastError();
    CloseFile(reinterpret_cast<FileHandle>(handle));
    SetLastError(error);
    return nullptr;
  }
  try {
    std::lock_guard<std::mutex> lock(markedLock);
    marked.insert(handle);
  } catch (const std::bad_alloc&) {
    // Given up, which removes it, before the operation stops for want of memory at its edge.
    CloseFile(reinterpret_cast<FileHandle>(handle));
    throw;
  }
  return reinterpret_cast<FileHandle>(handle);
}

int KeepTemporary(FileHandle file) {
  HANDLE handle = reinterpret_cast<HANDLE>(file);
  if (!SetDeletion(handle, FALSE)) return 0;
  std::lock_guard<std::mutex> lock(markedLock);
  marked.erase(handle);
  return 1;
}

bool TemporaryHasName(FileHandle file) {
  std::lock_guard<std::mutex> lock(markedLock);
  return marked.count(reinterpret_cast<HANDLE>(file)) == 0;
}
