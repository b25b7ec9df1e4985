// Files by their path texts.
#include "support/files_by_path.h"

#include "support/output_path.h"
#include "support/path_buffer.h"

FileHandle OpenInputByPath(const char* path) {
  char buffer[kPathBufferSize];
  if (!PutPathIntoBuffer(buffer, path)) return nullptr;
  return OpenInputFile(buffer);
}

FileHandle CreateOutputNamedAfter(const char* outputFolder, const char* sourcePath, const char* extension) {
  char path[kPathBufferSize];
  if (!PutPathIntoBuffer(path, outputFolder) || !BuildOutputPath(path, sourcePath, extension)) return nullptr;
  return CreateOutputFile(path);
}
