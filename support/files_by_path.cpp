// Files by their path texts.
#include "support/files_by_path.h"

#include "support/path_buffer.h"

FileHandle OpenInputByPath(const char* path) {
  char buffer[kPathBufferSize];
  if (!PutPathIntoBuffer(buffer, path)) return nullptr;
  return OpenInputFile(buffer);
}
