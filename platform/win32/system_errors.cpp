// The thread's last error and the system's own description of it (FormatMessageW, in UTF-8).
#include <windows.h>

#include <cstring>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/win32/wide.h"

uint32_t LastSystemError() { return GetLastError(); }

void SetLastSystemError(uint32_t code) { SetLastError(code); }

uint32_t SystemErrorCode(SystemErrorKind kind) {
  switch (kind) {
    case SystemErrorKind::InvalidName: return ERROR_INVALID_NAME;
    case SystemErrorKind::NameTooLong: return ERROR_FILENAME_EXCED_RANGE;
    case SystemErrorKind::FileTooLarge: return ERROR_FILE_TOO_LARGE;
    case SystemErrorKind::NotEnoughMemory: return ERROR_NOT_ENOUGH_MEMORY;
    case SystemErrorKind::EndOfFile: return ERROR_HANDLE_EOF;
    case SystemErrorKind::DiskFull: return ERROR_DISK_FULL;
    case SystemErrorKind::AccessDenied: return ERROR_ACCESS_DENIED;
    case SystemErrorKind::FileNotFound: return ERROR_FILE_NOT_FOUND;
    case SystemErrorKind::PathNotFound: return ERROR_PATH_NOT_FOUND;
    case SystemErrorKind::SharingViolation: return ERROR_SHARING_VIOLATION;
    case SystemErrorKind::InvalidParameter: return ERROR_INVALID_PARAMETER;
    case SystemErrorKind::NotRegularFile: return ERROR_NOT_SUPPORTED;
    case SystemErrorKind::IsFolder: return ERROR_DIRECTORY;
    case SystemErrorKind::IsLink: return ERROR_CANT_ACCESS_FILE;
    case SystemErrorKind::AlreadyExists: return ERROR_ALREADY_EXISTS;
    case SystemErrorKind::NotEmpty: return ERROR_DIR_NOT_EMPTY;
    case SystemErrorKind::NotFolder: return ERROR_DIRECTORY;
    case SystemErrorKind::LockViolation: return ERROR_LOCK_VIOLATION;
    // Not a code the folder calls get from the system: it names the case alone.
    case SystemErrorKind::ShortNameOfOther: return ERROR_FILE_EXISTS;
  }
  return ERROR_INVALID_FUNCTION;
}

char* DescribeSystemError(uint32_t code) {
  // The system allocates the text in the user's default language. When it has none for the
  // code it returns 0 and leaves the pointer alone, so the pointer starts out null.
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                                      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0,
                                      nullptr);
  if (length == 0) return nullptr;
  char* copy = nullptr;
  try {
    const std::string utf8 = Utf8(text, length);
    // Freed like the system's own text, with FreeSystemErrorText.
    copy = static_cast<char*>(LocalAlloc(LMEM_FIXED, utf8.size() + 1));
    if (copy != nullptr) std::memcpy(copy, utf8.c_str(), utf8.size() + 1);
  } catch (const std::bad_alloc&) {
    // No text then, as for a code the system has none for.
  }
  LocalFree(text);
  return copy;
}

void FreeSystemErrorText(char* text) { LocalFree(text); }
