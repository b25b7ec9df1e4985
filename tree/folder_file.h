// A folder exchange file opened by its path for the operation that reads it: its length, a
// buffer to read its records through, and its kind told from its first bytes, so that a file
// of another kind is refused before its records are read.
#pragma once

#include <cstdint>

#include "core/file_kinds.h"
#include "core/folder_test_file.h"
#include "core/outcome.h"
#include "platform/platform.h"
#include "tree/file_reader.h"

// Where opening it stops: its open, size, buffer and first read, and the refusals of a single
// file's form and of anything else that is not the kind asked for.
struct FolderFileSteps {
  Step open;
  Step size;
  Step buffer;
  Step read;
  Step oneFile;
  Step otherKind;
};

// What is held, released with it.
struct FolderFile {
  File file;
  Memory buffer;  // kStreamBufferBytes
  uint64_t length = 0;
  uint8_t start[kFolderFileHeaderBytes] = {};  // the first bytes, zero past the file's end

  // Reads the records behind the header in order.
  FileReader Records() const;
};

// Opens the file at path, keeping waits, takes its length and a buffer, reads its first bytes,
// and refuses it unless it is of kind (a folder form), or of also or alsoThis where that is
// another folder form. Done, or stopped at one of steps.
Outcome OpenFolderFile(const char* path, HeldFileWaits* waits, ExchangeFileKind kind, const FolderFileSteps& steps,
                       FolderFile* opened, ExchangeFileKind also = ExchangeFileKind::Plain,
                       ExchangeFileKind alsoThis = ExchangeFileKind::Plain);
