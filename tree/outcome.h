// What a folder operation says happened: the outcome of the operation as a whole (the same
// value the single-file operations return) and what happened to each entry worth telling,
// as values. The programs turn them into their own words; nothing here is text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/folder_test_file.h"
#include "core/outcome.h"
#include "tree/names.h"

enum class EntryEvent : uint8_t {
  Skipped,        // not taken; why is in skip
  Damaged,        // valid-folder scan: differs; blocks carried (0: only the length)
  Missing,        // valid-folder scan: only in the valid folder; the file carried whole
  FolderMissing,  // valid-folder scan: a folder to create
  CaseDiffers,    // valid-folder scan: the name differs only in letter case; renamed at the repair
  Extra,          // only in the broken folder; left in place
  Repaired,       // repair: blocks put in place, the length set, and it matches its fingerprint
  Created,        // repair: the file made whole, and it matches its fingerprint
  FolderCreated,  // repair
  Renamed,        // repair
  Deleted,        // repair with extra entries deleted
  Mismatch,       // repair: written, but it does not match its fingerprint
  Verified,       // repair of a proof: nothing to write, and it matches its fingerprint
};

enum class EntrySkip : uint8_t {
  None,
  Link,           // a symbolic link, junction, mount point or a reparse point of a kind nobody knows
  NotRegular,     // a device, pipe or socket
  Unreadable,     // a call failed: step and systemError say which and why
  BadName,        // a name no exchange file can carry: nameFault says why
  TooDeep,        // deeper than the folders the operation follows
  BrokenSide,     // valid-folder scan: the broken folder's scan skipped it (brokenReason)
  NotPossibleThere,  // valid-folder scan: the name cannot exist in the broken folder (nameFault)
  NameTaken,      // repair: something else stands where the entry goes
  Gone,           // repair: the entry to change is no longer there
  NotEmpty,       // repair: an extra folder that still holds entries is not deleted
  OtherFile,      // repair: the file is not the one the repair file was made for, or has changed
                  // since the broken folder's scan (check says where); nothing written to it
  NotSeen,        // repair: a file stands where the repair file records none, one the scan never
                  // saw (made since); kept as it is
  ShortName,      // repair: the name is not in the folder, but the system takes it for another entry's short name
};

struct EntryReport {
  std::string path;  // UTF-8, '/' between components, relative to the folder
  EntryEvent event = EntryEvent::Skipped;
  EntrySkip skip = EntrySkip::None;
  bool folder = false;
  NameFault nameFault = NameFault::None;
  SkipReason brokenReason = SkipReason::Unreadable;  // BrokenSide: why the broken folder's scan skipped it
  Step step = Step::OpenBroken;
  uint32_t systemError = 0;
  std::string holder;  // another program held the file (IsHeldByAnotherProgram): its name, where the system could tell
  std::string kept;    // repair: a whole file written but not renamed for such a hold, kept under this name
  uint64_t blocks = 0;
  bool throughCopy = false;  // Repaired: through a copy, since the file has other names
  CheckRefusal check;        // OtherFile: where the file does not fit the record
};

struct TreeOutcome {
  // Done, Identical, Stopped, Cancelled; outputPath and outputBytes of a scan.
  Outcome outcome;
  // Stopped at an entry (or at a name of the repair file): its path; empty when the stop
  // concerns the operation's own files.
  std::string stoppedAt;
  NameFault nameFault = NameFault::None;  // CheckRepairFileName: why the name was refused
  std::vector<EntryReport> entries;
  uint64_t files = 0;    // files described, compared or changed
  uint64_t folders = 0;  // folders described, compared or created
  uint64_t fetched = 0;  // scans: files that were only in the cloud, fetched to be read
  // Identical folders: the older folder repair file of the output's name, removed.
  std::string removedAnswer;
};

bool AnySkipped(const TreeOutcome& result);
// Whether a file was left because it is not the one the repair file was made for, or was made
// since the scan: a new test file is needed.
bool AnyNotScanned(const TreeOutcome& result);
// Whether a repaired or created file does not match its fingerprint.
bool AnyMismatch(const TreeOutcome& result);
