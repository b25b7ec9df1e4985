// Filling a path buffer.
#include "support/path_buffer.h"

#include <cstring>

#include "platform/platform.h"

int PutPathIntoBuffer(char* buffer, const char* text) {
  std::memset(buffer, 0, kPathBufferSize);
  const size_t length = std::strlen(text);
  if (length >= kPathBufferSize) {
    SetLastSystemError(SystemErrorCode(SystemErrorKind::NameTooLong));
    return 0;
  }
  std::memcpy(buffer, text, length);
  return 1;
}
