// An output of a streaming operation (test file or repair file) that appears whole or not at
// all: written to a temporary beside its final name, flushed, given its temporary name,
// closed, and renamed over the final name. Until then an older file of that name stays as it
// was; where the system allows, the temporary has no name until it is complete, so that a run
// that dies leaves nothing behind (platform/platform.h).
#pragma once

#include <cstdint>

#include "core/fingerprint.h"
#include "core/outcome.h"
#include "platform/platform.h"
#include "support/path_buffer.h"

struct OutputFile {
  FileHandle file = nullptr;
  bool created = false;  // the temporary exists on disk under its temporary name
  char finalPath[kPathBufferSize] = {};
  char temporaryPath[kPathBufferSize + 64] = {};
};

// An output written front to back, with the XXH3-128 of what was written so far, which the
// follow-up test files end with.
struct HashedOutput {
  OutputFile output;
  uint64_t at = 0;
  Hash128Stream check;

  bool Put(const uint8_t* bytes, uint32_t count) {
    check.Add(bytes, count);
    if (!WriteAt(output.file, at, bytes, count)) return false;
    at += count;
    return true;
  }
};

// Names the output after sourcePath with extension in outputFolder (by nameOutput, or the
// dialog's BuildOutputPath when it is null) and creates its temporary, readable by no more
// people than source, the open file whose contents it carries.
// Refuses, as creating the final file itself would, a final name that is taken by something
// that may not be replaced: a folder, a device, a read-only file, or a file this process holds
// open (an input of the same operation). 0 with the last error set.
int CreateOutput(OutputFile* output, const char* outputFolder, const char* sourcePath, FileHandle source,
                 const char* extension, int (*nameOutput)(char*, const char*, const char*));

// The same for an output named after a folder (photos gives photos.crc). It carries many
// files' bytes, so only its owner may read it.
int CreateFolderOutput(OutputFile* output, const char* outputFolder, const char* folderPath, const char* extension);

// What committing an output came to.
enum class Commit {
  Failed,           // nothing replaced, the temporary removed; the last error says why
  Done,             // renamed over the final name, and the rename flushed to the device
  FolderUnflushed,  // renamed over the final name, so any older file is gone, but the flush of
                    // the folder failed (the last error says why): a power cut may lose it
};

// Flushes the temporary, gives it its name and closes it, checking each, renames it over the
// final name (the commit) and flushes the folder.
Commit CommitOutput(OutputFile* output);

// Commits the output, as an operation tells it: stopped at the write when nothing was
// replaced; otherwise done, with the output's final path, and told when it may not survive a
// power cut.
Outcome FinishOutput(OutputFile* output);

// Closes and removes the temporary, if any, keeping the last error as it was.
void AbandonOutput(OutputFile* output);
