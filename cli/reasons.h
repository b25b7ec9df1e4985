// Why a run of varnell-cli did not simply end done: a stable English code for scripts (--json's
// reason_code, the same in every language and version) and the path the reason concerns (the
// one the error line names). One row per step an operation can stop at, per finding of a check
// and per thing the program finds itself; a new one is one more row, which the build asks for
// (-Werror=switch), and a line in the manual pages' table of codes.
#pragma once

#include <cstdint>

#include "core/outcome.h"
#include "tree/outcome.h"

// Which of a run's paths a reason concerns.
enum class Subject : uint8_t {
  Input,       // the broken or valid file or folder (the first operand), or the folder's entry under way
  TestFile,    // scan-valid's test file, or repair's --check TEST_FILE
  RepairFile,  // the repair file of repair and verify
  Output,      // the test or repair file a scan writes
  FollowUp,    // the follow-up test file a repair writes
};

struct Reason {
  const char* code;  // snake_case; null: nothing to tell (done)
  Subject subject;
};

// What the program tells beside the steps and the check's findings.
enum class Finding : uint8_t {
  Identical,         // scan-valid: identical contents, nothing written (exit 3)
  Cancelled,         // interrupted (exit 1, or ended by the signal)
  Differs,           // the result still differs from the valid file's fingerprint (exit 5)
  NoFingerprint,     // verify: the repair file has none to compare with (exit 8)
  NotFlushed,        // the output is in place but its folder was not flushed (exit 7)
  EntriesSkipped,    // a folder: done, but entries were skipped (exit 6)
  EntriesOtherFile,  // a folder repair: files changed or made since the scan were left (exit 9)
  MoreNeeded,        // the compact test file did not decode: a request, or the larger test file it asks for, written (exit 10)
};

Reason StepReason(Step step);
// repair --check refused the broken file (or the test file) for this finding; no code for
// CheckFinding::None, a file the check could not read, whose step is the reason.
Reason CheckReason(CheckFinding finding);
// repair refused a repair file made for another file, or a file changed since: where it shows.
Reason OtherFileReason(CheckFinding finding);
Reason FindingReason(Finding finding);
// Why a folder's entry was skipped: an unreadable one by its step, the others by their kind.
Reason EntryReason(const EntryReport& entry);

// The reason of a run that ended with this outcome and exit status: code null for one that is
// simply done (exit 0).
Reason OutcomeReason(const Outcome& outcome, int status);
