// errno and strerror, standing in for the thread's last error and the system's own text.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }

void SetLastSystemError(uint32_t code) { errno = static_cast<int>(code); }

uint32_t SystemErrorCode(SystemErrorKind kind) {
  switch (kind) {
    case SystemErrorKind::InvalidName: return EINVAL;
    case SystemErrorKind::NameTooLong: return ENAMETOOLONG;
    case SystemErrorKind::FileTooLarge: return EFBIG;
    case SystemErrorKind::NotEnoughMemory: return ENOMEM;
    case SystemErrorKind::EndOfFile: return EIO;
    case SystemErrorKind::DiskFull: return ENOSPC;
    case SystemErrorKind::AccessDenied: return EACCES;
    case SystemErrorKind::FileNotFound: return ENOENT;
    case SystemErrorKind::PathNotFound: return ENOENT;
    case SystemErrorKind::SharingViolation: return EBUSY;
    case SystemErrorKind::InvalidParameter: return EINVAL;
  }
  return EINVAL;
}

char* DescribeSystemError(uint32_t code) {
  char text[256];
  const char* described = strerror_r(static_cast<int>(code), text, sizeof text);
  return strdup(described);
}

void FreeSystemErrorText(char* text) { free(text); }
