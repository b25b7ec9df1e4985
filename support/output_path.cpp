// Composes an output path in place in a path buffer.
#include "support/output_path.h"

#include <cstring>

#include "core/utf8.h"
#include "platform/platform.h"
#include "support/path_buffer.h"

namespace {

// Offset of the last byte equal to wanted at or before from, or -1.
int FindBackwards(const char* text, int from, char wanted) {
  for (int i = from; i >= 0; --i) {
    if (text[i] == wanted) return i;
  }
  return -1;
}

}  // namespace

SystemError BuildOutputPath(char* pathBuffer, const char* sourcePath, const char* extension) {
  return BuildOutputPathWith(kPathSeparator, pathBuffer, sourcePath, extension);
}

SystemError BuildOutputPathWith(char separator, char* pathBuffer, const char* sourcePath, const char* extension) {
  // At most a path's 519 units of the source are copied into a zeroed buffer of its own, so
  // the backwards scans from the buffer's end meet the text's last dot first.
  char source[kPathBufferSize] = {};
  std::memcpy(source, sourcePath, Utf8BytesWithin(sourcePath, kLongestPathUnits));

  const int last = static_cast<int>(kPathBufferSize) - 1;
  const int dot = FindBackwards(source, last, '.');
  if (dot < 0) return ErrorOf(SystemErrorKind::InvalidName);
  const int stemStart = FindBackwards(source, dot - 1, separator) + 1;
  if (stemStart == 0) return ErrorOf(SystemErrorKind::InvalidName);

  int folderEnd = last;
  while (folderEnd >= 0 && pathBuffer[folderEnd] == '\0') --folderEnd;
  if (folderEnd < 0) return ErrorOf(SystemErrorKind::InvalidName);

  return AppendOutputName(pathBuffer, static_cast<size_t>(folderEnd) + 1, separator, source + stemStart,
                          static_cast<size_t>(dot - stemStart), extension);
}

SystemError AppendOutputName(char* pathBuffer, size_t folderLength, char separator, const char* name, size_t nameLength,
                     const char* extension) {
  const size_t extensionBytes = std::strlen(extension) + 1;
  // Measured as a path is, in UTF-16 units; whatever fits that fits the buffer.
  const size_t units = Utf16Length(std::string_view(pathBuffer, folderLength)) + 1 +
                       Utf16Length(std::string_view(name, nameLength)) + Utf16Length(extension);
  if (units > kLongestPathUnits || folderLength + 1 + nameLength + extensionBytes > kPathBufferSize) {
    return ErrorOf(SystemErrorKind::NameTooLong);
  }
  char* out = pathBuffer + folderLength;
  *out++ = separator;
  std::memcpy(out, name, nameLength);
  std::memcpy(out + nameLength, extension, extensionBytes);
  return SystemError{};
}

SystemError BuildFolderOutputPath(char* pathBuffer, const char* folderPath, const char* extension) {
  const size_t length = std::strlen(folderPath);
  size_t end = length;
  while (end > 0 && (folderPath[end - 1] == kPathSeparator || folderPath[end - 1] == '/')) --end;
  size_t start = end;
  while (start > 0 && folderPath[start - 1] != kPathSeparator && folderPath[start - 1] != '/' && folderPath[start - 1] != ':') {
    --start;
  }
  const size_t nameLength = end - start;
  if (nameLength == 0 || (nameLength == 1 && folderPath[start] == '.') ||
      (nameLength == 2 && folderPath[start] == '.' && folderPath[start + 1] == '.')) {
    return ErrorOf(SystemErrorKind::InvalidName);
  }
  int folderEnd = static_cast<int>(kPathBufferSize) - 1;
  while (folderEnd >= 0 && pathBuffer[folderEnd] == '\0') --folderEnd;
  if (folderEnd < 0) return ErrorOf(SystemErrorKind::InvalidName);
  return AppendOutputName(pathBuffer, static_cast<size_t>(folderEnd) + 1, kPathSeparator, folderPath + start, nameLength,
                          extension);
}
