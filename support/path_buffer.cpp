// Filling a path buffer.
#include "support/path_buffer.h"

#include <cstring>

#include "core/utf8.h"
#include "platform/platform.h"

SystemError PutPathIntoBuffer(char* buffer, const char* text) {
  std::memset(buffer, 0, kPathBufferSize);
  const size_t length = std::strlen(text);
  if (length >= kPathBufferSize || Utf16Length(std::string_view(text, length)) > kLongestPathUnits) {
    return ErrorOf(SystemErrorKind::NameTooLong);
  }
  std::memcpy(buffer, text, length);
  return SystemError{};
}
