// varnell-cli's output names, composed in place in a path buffer.
#include "cli/output_name.h"

#include <cstring>

#include "platform/platform.h"
#include "support/output_path.h"
#include "support/path_buffer.h"

SystemError NameOutputAfterFile(char* pathBuffer, const char* sourcePath, const char* extension) {
  return NameOutputAfterFileWith(kPathSeparator, pathBuffer, sourcePath, extension);
}

SystemError NameOutputAfterFileWith(char separator, char* pathBuffer, const char* sourcePath, const char* extension) {
  const char* lastSeparator = std::strrchr(sourcePath, separator);
  const char* name = lastSeparator != nullptr ? lastSeparator + 1 : sourcePath;
  size_t folderLength = strnlen(pathBuffer, kPathBufferSize);
  if (*name == '\0' || folderLength == 0) return ErrorOf(SystemErrorKind::InvalidName);
  // One separator between the folder and the name, however many the folder's text ends in:
  // "out/" gives out/disk.crc, "/" gives /disk.crc.
  while (folderLength > 0 && pathBuffer[folderLength - 1] == separator) --folderLength;
  // A dot at the name's start marks a hidden file, not an extension: ".profile" keeps it.
  const char* dot = std::strrchr(name, '.');
  const size_t stemLength = dot != nullptr && dot != name ? static_cast<size_t>(dot - name) : std::strlen(name);
  return AppendOutputName(pathBuffer, folderLength, separator, name, stemLength, extension);
}
