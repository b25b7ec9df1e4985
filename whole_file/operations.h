// The dialog's own three operations, for files below 4 GiB: each reads its files whole into
// memory and writes its output from there, in the steps the dialog has always taken. Each
// returns what happened, and tells the reporter at the moment it stops or finds the copies
// identical, before it releases anything (the dialog shows its box there). Paths are UTF-8
// texts of at most 519 UTF-16 units (support/path_buffer.h); every file and memory region is
// released before the return.
#pragma once

#include "core/outcome.h"

// Receives an outcome that is not Done, once, where the operation ends (for Differs, once the
// follow-up is written).
struct Reporter {
  void (*report)(void* context, const Outcome& outcome) = nullptr;
  void* context = nullptr;
};

// Writes the test file NAME.crc into outputFolder: the broken file's size and one checksum
// per block. The broken file is only read.
Outcome ScanBrokenFile(const Reporter& reporter, const char* brokenFilePath, const char* outputFolder);

// Compares the valid file with a test file and writes the repair file NAME.fix into
// outputFolder with every block that must travel. Identical contents, of the same length,
// write nothing.
Outcome ScanValidFile(const Reporter& reporter, const char* validFilePath, const char* testFilePath,
                      const char* outputFolder);

// Puts the repair file's blocks in place and rewrites the broken file to exactly the valid
// size, cutting a longer one. With the valid file's fingerprint in the repair file, the file is
// read back and compared: Done when it agrees; where it does not, the follow-up test file goes
// to followUpFolder (null: the broken file's folder) and the outcome is Differs, reported.
Outcome RepairBrokenFile(const Reporter& reporter, const char* brokenFilePath, const char* repairFilePath,
                         const char* followUpFolder = nullptr);
