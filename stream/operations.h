// The streaming operations: the three work modes for files of any size (up to 16 TiB), with
// any amount of damage, in memory that does not grow with the file. They show nothing: each
// returns what happened, and the program that called it presents that. Paths are the same
// texts the dialog's own operations take; outputs are written under a temporary name and
// renamed over the final name only once complete and flushed.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

enum class StreamOutcome {
  Done,          // the task is done; the fields below say what was written
  Identical,     // valid-file scan: the two copies agree; nothing written
  Stopped,       // a step failed or a condition refused the work; see message
  CheckRefused,  // repair with a check file: the broken file no longer matches it; nothing written
  Cancelled,     // the caller asked to stop; see brokenFileChanged
};

struct StreamResult {
  StreamOutcome outcome = StreamOutcome::Stopped;

  // Stopped: message is the step's message (engine/messages.h). With caption null it is the
  // caption of an error box whose text is the system's description of systemError; otherwise
  // message and caption are the program's own text and caption, shown with boxType.
  const char* message = nullptr;
  const char* caption = nullptr;
  unsigned boxType = 0;
  uint32_t systemError = 0;
  // CheckRefused: why, in the program's words, one line without its line break. When a file
  // of the check could not be read, detail is empty and message and systemError say why, as
  // for Stopped.
  // Identical: message and caption are the dialog's information box (boxType information).
  std::string detail;

  // Done: the file written by a scan and its size in bytes.
  std::string outputPath;
  uint64_t outputBytes = 0;
  // Done (valid-file scan, repair): the valid size S and the blocks carried or put in place,
  // in the repair file's order.
  uint64_t validSize = 0;
  std::vector<uint32_t> blocks;

  // Cancelled (repair): whether the broken file was written to before the stop. A partly
  // repaired file is finished by applying the same repair file again. Also set for a repair
  // Stopped after its first write.
  bool brokenFileChanged = false;
};

// How the caller follows and stops the work. Both are optional.
struct StreamControl {
  // Called from the working thread now and then (at most a few times a second is the
  // caller's business) with the bytes done so far of the bytes the operation will process.
  void (*progress)(void* context, uint64_t done, uint64_t total) = nullptr;
  void* context = nullptr;
  // Set from any thread: the operation stops at the next block boundary with Cancelled.
  const std::atomic<bool>* stop = nullptr;
};

StreamResult StreamScanBrokenFile(const char* brokenFilePath, const char* outputFolder, const StreamControl& control);

StreamResult StreamScanValidFile(const char* validFilePath, const char* testFilePath, const char* outputFolder,
                                 const StreamControl& control);

// checkFilePath: null, or a test file made from the broken file that it must still match
// (size and every block checksum), read through the same open handle as the repair, before
// anything is written.
StreamResult StreamRepairBrokenFile(const char* brokenFilePath, const char* repairFilePath, const char* checkFilePath,
                                    const StreamControl& control);
