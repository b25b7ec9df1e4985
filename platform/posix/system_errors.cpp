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
    // Not EIO, which a failing disk gives: an early end means a file that changed.
    case SystemErrorKind::EndOfFile: return ENODATA;
    case SystemErrorKind::DiskFull: return ENOSPC;
    case SystemErrorKind::AccessDenied: return EACCES;
    case SystemErrorKind::FileNotFound: return ENOENT;
    case SystemErrorKind::PathNotFound: return ENOENT;
    case SystemErrorKind::SharingViolation: return EBUSY;
    case SystemErrorKind::InvalidParameter: return EINVAL;
    case SystemErrorKind::NotRegularFile: return ENOTSUP;
    case SystemErrorKind::IsFolder: return EISDIR;
    case SystemErrorKind::IsLink: return ELOOP;
    case SystemErrorKind::AlreadyExists: return EEXIST;
    case SystemErrorKind::NotEmpty: return ENOTEMPTY;
    case SystemErrorKind::NotFolder: return ENOTDIR;
    case SystemErrorKind::LockViolation: return ENOLCK;
    case SystemErrorKind::ShortNameOfOther: return ENOTUNIQ;
  }
  return EINVAL;
}

namespace {

// strerror_r comes in two kinds: the GNU one returns the text, which may lie outside the
// buffer; the XSI one returns 0 and fills the buffer. Overloads take whichever is declared.
[[maybe_unused]] const char* TextOf(const char* gnuResult, const char*) { return gnuResult; }
[[maybe_unused]] const char* TextOf(int xsiResult, const char* buffer) { return xsiResult == 0 ? buffer : nullptr; }

}  // namespace

char* DescribeSystemError(uint32_t code) {
  char text[256] = "";
  const char* described = TextOf(strerror_r(static_cast<int>(code), text, sizeof text), text);
  return described == nullptr ? nullptr : strdup(described);
}

void FreeSystemErrorText(char* text) { free(text); }
