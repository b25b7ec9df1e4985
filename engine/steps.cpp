// Steps shared by the operations.
#include "engine/steps.h"

#include "support/output_path.h"
#include "support/path_buffer.h"
#include "support/report_system_error.h"

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

int StopWithSystemError(WindowHandle owner, const char* message) {
  ReportSystemError(owner, message);
  return 0;
}

int StopWithMessage(WindowHandle owner, const char* text, const char* caption, unsigned type) {
  ShowMessageBox(owner, text, caption, type);
  return 0;
}
