// An output of a streaming operation (test file or repair file) that appears whole or not at
// all: written under a temporary name beside its final name, flushed, closed, and renamed
// over the final name. Until then an older file of that name stays as it was.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "support/path_buffer.h"

struct OutputFile {
  FileHandle file = nullptr;
  bool created = false;  // the temporary exists on disk
  char finalPath[kPathBufferSize] = {};
  char temporaryPath[kPathBufferSize + 64] = {};
};

// Names the output after sourcePath's stem with extension in outputFolder and creates its
// temporary. Refuses, as creating the final file itself would, a final name that is taken
// by something that may not be replaced: a folder, a device, a read-only file, or a file
// this process holds open (an input of the same operation). 0 with the last error set.
int CreateOutput(OutputFile* output, const char* outputFolder, const char* sourcePath, const char* extension);

// The same for an output named after a folder (photos gives photos.crc).
int CreateFolderOutput(OutputFile* output, const char* outputFolder, const char* folderPath, const char* extension);

// Flushes and closes the temporary, checking both, and renames it over the final name.
// 0 with the last error set; the temporary is then removed.
int CommitOutput(OutputFile* output);

// Closes and removes the temporary, if any, keeping the last error as it was.
void AbandonOutput(OutputFile* output);
