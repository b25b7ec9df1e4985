// Files by their path texts.
#include "support/files_by_path.h"

#include "support/path_buffer.h"

SystemError OpenInputByPath(const char* path, FileAccess access, HeldFileWaits* waits, File* file) {
  char buffer[kPathBufferSize];
  if (const SystemError failed = PutPathIntoBuffer(buffer, path)) return failed;
  return OpenInputFile(buffer, waits, file, access);
}
