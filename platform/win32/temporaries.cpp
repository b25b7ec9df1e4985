// Temporaries marked for deletion when their last handle closes, so that a run that dies
// leaves none behind; the mark is cleared just before the complete file is renamed over its
// final name. And the outputs made of them, renamed over their final names.
// rand_s, the runtime's generator from the system's own source of randomness, is declared only
// on request, before the runtime's headers are read.
#define _CRT_RAND_S
#include <stdlib.h>
#include <windows.h>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/temporary_name.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

namespace {

// How many fresh names are tried before a folder is taken to refuse them all.
constexpr int kNameAttempts = 100;

bool SetDeletion(HANDLE handle, BOOL deletion) {
  FILE_DISPOSITION_INFO disposition = {static_cast<BOOLEAN>(deletion)};
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

}  // namespace

SystemError TemporaryRandom(uint64_t* random) {
  unsigned int low = 0;
  unsigned int high = 0;
  if (rand_s(&low) != 0 || rand_s(&high) != 0) return Failure(ERROR_GEN_FAILURE);
  *random = uint64_t{high} << 32 | low;
  return SystemError{};
}

SystemError MarkTemporary(File* file) {
  if (SetDeletion(Native(*file), TRUE)) return SystemError{};
  const SystemError failed = LastError();
  *file = File();
  return failed;
}

SystemError KeepTemporary(File* file) {
  if (!SetDeletion(Native(*file), FALSE)) return LastError();
  file->Named();
  return SystemError{};
}

SystemError CreateTemporaryFile(const char* finalPath, const File*, char* temporaryPath, uint32_t capacity, File* file) {
  if (const SystemError failed = Fault(Service::CreateTemporaryFile)) return failed;
  // The new file takes its folder's inherited access, as the dialog's own outputs do; copying
  // the source's security descriptor would need a library beyond the ones the program uses.
  uint32_t folderLength = 0;
  for (uint32_t i = 0; finalPath[i] != '\0'; ++i) {
    if (finalPath[i] == '\\' || finalPath[i] == '/') folderLength = i + 1;
  }
  SystemError failed;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    uint64_t random = 0;
    if ((failed = TemporaryRandom(&random))) return failed;
    if (!ComposeTemporaryPath(finalPath, folderLength, random, temporaryPath, capacity)) {
      return Failure(ERROR_FILENAME_EXCED_RANGE);
    }
    // Marked for deletion at once, so that a run that dies leaves nothing behind.
    failed = OpenByPath(temporaryPath, CREATE_NEW, GENERIC_READ | GENERIC_WRITE | DELETE, nullptr, true, file);
    if (!failed) return MarkTemporary(file);
    if (failed.code != ERROR_FILE_EXISTS && failed.code != ERROR_ALREADY_EXISTS) return failed;
  }
  return failed;
}

SystemError NameTemporaryFile(File* file, char*, uint32_t) {
  if (const SystemError failed = Fault(Service::NameTemporary)) return failed;
  return KeepTemporary(file);
}

SystemError ReplaceWithFile(const char* temporaryPath, const char* finalPath) {
  if (const SystemError failed = Fault(Service::ReplaceWithFile)) return failed;
  const SystemPath from(temporaryPath);
  if (!from.ok()) return LastError();
  const SystemPath to(finalPath);
  if (!to.ok()) return LastError();
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? SystemError{} : LastError();
}

SystemError FlushFolderOf(const char*) {
  // The move above returns only once it is on the disk; there is nothing left to flush.
  return Fault(Service::FlushFolder);
}

SystemError RemoveFile(const char* path) {
  if (const SystemError failed = Fault(Service::RemoveFile)) return failed;
  const SystemPath wide(path);
  if (!wide.ok()) return LastError();
  return DeleteFileW(wide.c_str()) ? SystemError{} : LastError();
}
