// The streaming operations: the three work modes for files of any size (up to 16 TiB), with
// any amount of damage, in memory that does not grow with the file. They show nothing: each
// returns what happened, and the program that called it words that. Paths are UTF-8 texts of
// at most a path's length (support/path_buffer.h); outputs are written under a temporary name
// and renamed over the final name only once complete and flushed.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/outcome.h"
#include "platform/platform.h"

// Composes an output's path in a path buffer that holds the output folder's text, as
// BuildOutputPath (support/output_path.h) does; the failure says why no name can be made.
using OutputNamer = SystemError (*)(char* pathBuffer, const char* sourcePath, const char* extension);

// How the caller follows and stops the work, and names the outputs. All are optional.
struct StreamControl {
  // Called from the working thread now and then (at most a few times a second is the
  // caller's business) with the bytes done so far of the bytes the operation will process.
  void (*progress)(void* context, uint64_t done, uint64_t total) = nullptr;
  void* context = nullptr;
  // Set from any thread: the operation stops at the next block boundary, Cancelled.
  const std::atomic<bool>* stop = nullptr;
  // Names the outputs; null takes BuildOutputPath, the dialog's rule.
  OutputNamer nameOutput = nullptr;
  // Work on the calling thread alone, without a second one to hash what it reads.
  bool oneThread = false;
};

// Which form a broken-file scan writes.
struct TestFileChoice {
  // The plain form as long as it is at most this many bytes, the compact form above: the dialog
  // keeps the plain form below 4 GiB, varnell-cli up to 1 MiB (files just under 1 GiB).
  uint64_t plainUpTo = UINT64_MAX;
  // The whole compact test file's length, for a mail limit; 0: the default size. A budget at or
  // above the plain form's length gives the plain form.
  uint64_t budget = 0;
};

// varnell-cli's default: the plain form up to 1 MiB.
inline constexpr uint64_t kPlainTestFileUpTo = uint64_t{1} << 20;

// The test file in the form chosen: by default the plain form, which every earlier version reads.
Outcome StreamScanBrokenFile(const char* brokenFilePath, const char* outputFolder, const StreamControl& control,
                             const TestFileChoice& choice = {});

// The repair file carries the valid file's fingerprint behind its blocks and names the test
// file it answers. A follow-up test file is answered with exactly the blocks whose XXH3-64
// differs and the fingerprint of the regions it lists. A compact test file is decoded against
// the valid file's blocks into the same repair file the plain form gives; one that does not
// decode is answered, under the repair file's name, with an asking repair file sized from the
// damage it shows (MoreNeeded). Copies whose every checksum agrees get a repair file too, of
// no blocks, with which the other side proves them the same or finds what differs (Identical).
// Refused before anything is written: a valid file or test file that is an exchange file of
// another kind, and a test file the repair file already in the output folder follows on from.
Outcome StreamScanValidFile(const char* validFilePath, const char* testFilePath, const char* outputFolder,
                            const StreamControl& control);

struct RepairOptions {
  // Null, or a test file made from the broken file that it must still match (size and every
  // block checksum), read through the same open handle as the repair, before anything is
  // written.
  const char* checkFilePath = nullptr;
  // With a fingerprint in the repair file: read the repaired file back and compare it.
  bool verify = true;
  // Where the follow-up test file goes when the result still differs, and the larger test file
  // an asking repair file asks for; null: beside the broken file.
  const char* followUpFolder = nullptr;
  // The largest that larger test file may be, in bytes; 0: as large as asked.
  uint64_t budget = 0;
};

// A repair file with a fingerprint is checked whole first, the fingerprint too; after the
// blocks are in place, the length set and the file flushed, the file is read back and
// compared with it: Done when it agrees, Differs with the ranges and the follow-up otherwise.
// Given an asking repair file, the broken file is only read: when it still gives the test file
// the request answers, the larger test file asked for is written (MoreNeeded), else OtherFile.
Outcome StreamRepairBrokenFile(const char* brokenFilePath, const char* repairFilePath, const RepairOptions& options,
                               const StreamControl& control);

// Compares a file with the fingerprint in a repair file and writes nothing: Done, Verified or
// without a fingerprint to compare with (NoFingerprint); Differs with the ranges.
Outcome StreamVerifyFile(const char* filePath, const char* repairFilePath, const StreamControl& control);
