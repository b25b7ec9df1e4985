// The streaming operations: the three work modes for files of any size (up to 16 TiB), with
// any amount of damage, in memory that does not grow with the file. They show nothing: each
// returns what happened, and the program that called it words that. Paths are the same
// texts the dialog's own operations take; outputs are written under a temporary name and
// renamed over the final name only once complete and flushed.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/outcome.h"

// How the caller follows and stops the work, and names the outputs. All are optional.
struct StreamControl {
  // Called from the working thread now and then (at most a few times a second is the
  // caller's business) with the bytes done so far of the bytes the operation will process.
  void (*progress)(void* context, uint64_t done, uint64_t total) = nullptr;
  void* context = nullptr;
  // Set from any thread: the operation stops at the next block boundary, Cancelled.
  const std::atomic<bool>* stop = nullptr;
  // Composes the output's path in a path buffer that holds the output folder's text, as
  // BuildOutputPath (support/output_path.h) does, which is the dialog's rule and the one taken
  // when this is null; 0 with the last error set when no name can be made.
  int (*nameOutput)(char* pathBuffer, const char* sourcePath, const char* extension) = nullptr;
};

Outcome StreamScanBrokenFile(const char* brokenFilePath, const char* outputFolder, const StreamControl& control);

Outcome StreamScanValidFile(const char* validFilePath, const char* testFilePath, const char* outputFolder,
                            const StreamControl& control);

// checkFilePath: null, or a test file made from the broken file that it must still match
// (size and every block checksum), read through the same open handle as the repair, before
// anything is written.
Outcome StreamRepairBrokenFile(const char* brokenFilePath, const char* repairFilePath, const char* checkFilePath,
                               const StreamControl& control);
