// Files through kernel32: CreateFileW with the dialog's access and share modes, and whole
// reads and writes at an offset whose transferred count must match the count asked. Paths are
// UTF-8 and reach the system as UTF-16 (platform/win32/wide.h).
#include <windows.h>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/win32/handles.h"

namespace {

// Moves count bytes (less shortBy) at offset, in pieces a single call can take; fewer bytes
// fail with shortError.
template <typename Transfer>
SystemError MoveAt(Transfer transfer, uint64_t offset, uint32_t count, uint32_t shortBy, DWORD shortError) {
  const uint32_t asked = count >= shortBy ? count - shortBy : 0;
  uint32_t done = 0;
  while (done < asked) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD moved = 0;
    if (!transfer(done, asked - done, &moved, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return LastError();
    }
    if (moved == 0) break;
    done += moved;
  }
  return done == count ? SystemError{} : Failure(shortError);
}

SystemError ReadAtOnce(const File& file, uint64_t offset, void* buffer, uint32_t count) {
  uint32_t shortBy;
  if (const SystemError failed = Fault(Service::ReadAt, &shortBy)) return failed;
  auto* bytes = static_cast<unsigned char*>(buffer);
  return MoveAt(
      [&](uint32_t done, uint32_t left, DWORD* moved, OVERLAPPED* at) {
        return ReadFile(Native(file), bytes + done, left, moved, at);
      },
      offset, count, shortBy, ERROR_HANDLE_EOF);
}

}  // namespace

SystemError OpenInputFile(const char* path, HeldFileWaits* waits, File* file, FileAccess access) {
  HeldFileWait wait(waits, true);
  for (;;) {
    SystemError failed = Fault(Service::OpenInputFile);
    const DWORD rights = access == FileAccess::ReadOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    if (!failed) failed = OpenByPath(path, OPEN_EXISTING, rights, waits, false, file);
    if (!failed || !wait.Again(&failed, [path] { return PathOfText(path); })) return failed;
  }
}

SystemError GetFileSize64(const File& file, uint64_t* size) {
  if (const SystemError failed = Fault(Service::GetFileSize64)) return failed;
  LARGE_INTEGER bytes;
  if (!GetFileSizeEx(Native(file), &bytes)) return LastError();
  *size = static_cast<uint64_t>(bytes.QuadPart);
  return SystemError{};
}

// A read refused because another program locks the bytes is tried again.
SystemError ReadAt(const File& file, uint64_t offset, void* buffer, uint32_t count) {
  HeldFileWait wait(file.waits(), false);
  for (;;) {
    SystemError failed = ReadAtOnce(file, offset, buffer, count);
    if (!failed || !wait.Again(&failed, [&file] { return PathOfHandle(Native(file)); })) return failed;
  }
}

SystemError WriteAt(const File& file, uint64_t offset, const void* buffer, uint32_t count) {
  uint32_t shortBy;
  if (const SystemError failed = Fault(Service::WriteAt, &shortBy)) return failed;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  return MoveAt(
      [&](uint32_t done, uint32_t left, DWORD* moved, OVERLAPPED* at) {
        return WriteFile(Native(file), bytes + done, left, moved, at);
      },
      offset, count, shortBy, ERROR_DISK_FULL);
}

SystemError SetFileLength(const File& file, uint64_t length) {
  if (const SystemError failed = Fault(Service::SetFileLength)) return failed;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(length);
  return SetFilePointerEx(Native(file), at, nullptr, FILE_BEGIN) && SetEndOfFile(Native(file)) ? SystemError{} : LastError();
}

SystemError FlushFile(const File& file) {
  if (const SystemError failed = Fault(Service::FlushFile)) return failed;
  return FlushFileBuffers(Native(file)) ? SystemError{} : LastError();
}
