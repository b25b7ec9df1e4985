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
#include "stream/operations.h"
#include "support/path_buffer.h"

// What an output holds: its temporary, until it is committed. One that goes out of scope
// uncommitted is abandoned: closed, and removed when it has a name by then.
struct OutputFile {
  OutputFile() = default;
  ~OutputFile() { Abandon(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  void Abandon();

  File file;
  bool created = false;  // the temporary exists on disk under its temporary name
  char finalPath[kPathBufferSize] = {};
  // Room for the temporary's own name beside the final path's folder.
  char temporaryPath[kPathBufferSize + kTemporaryNameRoom] = {};
};

// An output written front to back, with the XXH3-128 of what was written so far, which the
// follow-up test files end with.
struct HashedOutput {
  OutputFile output;
  uint64_t at = 0;
  Hash128Stream check;

  SystemError Put(const uint8_t* bytes, uint32_t count) {
    check.Add(bytes, count);
    if (const SystemError failed = WriteAt(output.file, at, bytes, count)) return failed;
    at += count;
    return SystemError{};
  }
};

// Names the output after sourcePath with extension in outputFolder (by nameOutput, or the
// dialog's BuildOutputPath when it is null) and creates its temporary, readable by no more
// people than source, the open file whose contents it carries.
// Refuses, as creating the final file itself would, a final name that is taken by something
// that may not be replaced: a folder, a device, a read-only file, or a file this process holds
// open for writing (an input of the same operation); a file another program holds is waited
// for by waits.
SystemError CreateOutput(OutputFile* output, const char* outputFolder, const char* sourcePath, const File& source,
                         const char* extension, OutputNamer nameOutput, HeldFileWaits* waits);

// The final path CreateOutput would give the output, in finalPath (a path buffer).
SystemError OutputPathFor(char* finalPath, const char* outputFolder, const char* sourcePath, const char* extension,
                          OutputNamer nameOutput);

// The same for an output named after a folder (photos gives photos.crc). It carries many
// files' bytes, so only its owner may read it.
SystemError CreateFolderOutput(OutputFile* output, const char* outputFolder, const char* folderPath, const char* extension,
                               HeldFileWaits* waits);

// What committing an output came to: failed, with nothing replaced and the temporary removed;
// or renamed over the final name, so that any older file is gone, where folderUnflushed says
// whether the flush of the folder failed after it, so that a power cut may lose the new file.
struct Committed {
  SystemError failed;
  SystemError folderUnflushed;
};

// Flushes the temporary, gives it its name and closes it, checking each, renames it over the
// final name (the commit) and flushes the folder.
Committed CommitOutput(OutputFile* output);

// Commits the output, as an operation tells it: stopped at the write when nothing was
// replaced; otherwise done, with the output's final path, and told when it may not survive a
// power cut.
Outcome FinishOutput(OutputFile* output);
