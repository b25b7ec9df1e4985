// What an operation of either engine says happened, as a value: done (and what it wrote),
// identical copies, stopped at a named step, a refused check, or a stop on request. The
// programs turn it into their own words; nothing here is text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/fingerprint.h"

// The steps an operation can stop at: each call that can fail, and each condition the
// program finds itself (the Check... steps, which carry no system error).
enum class Step : uint8_t {
  // Broken-file scan.
  OpenBroken,
  SizeBroken,
  AllocateBroken,
  ReadBroken,
  AllocateTestFileBuffer,
  CreateOutput,
  WriteOutput,
  // Valid-file scan.
  OpenValid,
  OpenTest,
  SizeValid,
  AllocateValid,
  SizeTest,
  CheckTestFileSize,   // the test file describes more blocks than the valid file has
  CheckLargeTestFile,  // a large-form test file whose header or length does not hold together
  AllocateTest,
  ReadValid,
  ReadTest,
  CommitList,
  // Repair.
  OpenRepair,
  SizeRepair,
  CommitRepairBuffer,
  ReadRepair,
  CheckRepairFile,       // a small-form repair file that does not hold together or names no block
  CheckLargeRepairFile,  // the same of the large form
  CommitBrokenBuffer,
  WriteRepaired,
  // Single-file readers given a folder's exchange file.
  CheckTestFileForFolder,
  CheckRepairFileForFolder,
  // Folders.
  OpenBrokenFolder,
  OpenValidFolder,
  ListFolder,
  AllocateListing,
  CheckTestFileForOneFile,    // a folder operation given a single file's test file
  CheckRepairFileForOneFile,  // and repair file
  CheckFolderTestFile,        // a folder test file that does not hold together
  CheckFolderRepairFile,      // a folder repair file that does not hold together
  CheckRepairFileName,        // a folder repair file with a name no repair may write
  CreateFolder,
  RenameEntry,
  RemoveExtra,
  AllocateRepairPlan,   // a folder repair: the repair file's records in memory
  AllocateRepairEntry,  // a folder repair: the entry under way (its path, its report)
  // The valid file's fingerprint: made by a valid-file scan, checked by a repair.
  AllocateFingerprint,
  CheckFingerprint,  // the fingerprint part behind the repair blocks is damaged or cut
  AllocateReadBack,
  ReadBack,          // reading the repaired file back to compare it with the fingerprint
  CreateFollowUp,    // the follow-up test file of a repair whose result still differs
  WriteFollowUp,
  CheckFollowUp,     // a follow-up test file that does not hold together or fit the valid file
  // A folder's: a file with more than one name repaired through a copy, which takes its
  // attributes; a folder follow-up test file that does not hold together.
  KeepFileAttributes,
  CheckFolderFollowUp,
  // The compact test file and the asking repair file that answers one that did not decode:
  // one that does not hold together (or, a compact test file, decodes to blocks the valid file
  // cannot have); a budget for the larger test file no larger than the one already sent.
  CheckCompactTestFile,
  CheckAskingRepairFile,
  CheckTestFileBudget,
  // A folder's files keep what they are: the valid file's permission bits and modification
  // time read by the valid folder's scan, and the time given to a file the repair wrote.
  ReadValidStamp,
  SetFileStamp,
  // An exchange file, known by its structure (a tag, or a fingerprint part whose check holds),
  // given where the file itself or the other kind of exchange file goes.
  BrokenIsTestFile,
  BrokenIsRepairFile,
  ValidIsTestFile,
  ValidIsRepairFile,
  TestIsRepairFile,
  RepairIsTestFile,
  // A valid-file scan given a test file that the repair file already in the output folder
  // follows on from (outputPath names it): an earlier round's test file, answered before.
  CheckEarlierTestFile,
};

// The last of the steps, for tables that must have a line for each.
inline constexpr Step kLastStep = Step::CheckEarlierTestFile;

// Whether the program found the condition itself, rather than a system call failing.
bool FoundByProgram(Step step);

enum class Ending {
  Done,          // the task is done; the fields below say what was written
  Identical,     // valid-file scan: the copies agree block for block by their checksums; a file's
                 // scan has written its proof (a repair file of no blocks, outputPath), a
                 // folder's, whose fingerprints already agree, nothing
  Stopped,       // stopped at step, with the system's error where a call failed
  CheckRefused,  // repair with a check file: the broken file no longer matches it; nothing written
  Cancelled,     // the caller asked to stop
  Differs,       // repair or verification: the file still differs from the valid file's fingerprint
  OtherFile,     // repair: the broken file is not the one the repair file was made for, or has
                 // changed since its test file was made (check says where); nothing written
  MoreNeeded,    // the compact test file did not decode: the valid-file scan wrote the asking
                 // repair file in place of the repair file, and the repair given it wrote the
                 // larger test file it asks for (outputPath either way); nothing else changed
};

// Whether a repair (or a verification) compared its result with the valid file's fingerprint.
enum class Verification {
  NoFingerprint,  // the repair file carries none: applied as it always was, not checked
  Skipped,        // the caller asked not to read the file back
  Verified,       // equal to the valid file, whole and region by region
  Differs,
};

struct ByteRange {
  uint64_t first = 0;
  uint64_t last = 0;
  bool operator==(const ByteRange& other) const { return first == other.first && last == other.last; }
};

// Why a repair's check refused the broken file. None: a file of the check could not be read,
// and step and systemError say which and why. A repair file's record of the broken file
// (Ending::OtherFile) refuses it with SizeDiffers (recordedSize the record's size) or
// BlockDiffers.
enum class CheckFinding {
  None,
  TestFileTooShort,   // fewer than 4 bytes
  TestFileMalformed,  // testLength bytes cannot be the test file of recordedSize bytes
  SizeDiffers,        // the broken file has brokenSize bytes, the test file records recordedSize
  BlockDiffers,       // block differs (bytes from first to last)
  TestFileForFolder,  // the test file describes a folder
  TestFileDiffers,    // the broken file no longer gives the test file an asking repair file answers
  AnswersOtherTestFile,  // the repair file answers another test file than the check's
  SketchDiffers,      // the broken file's blocks no longer give the compact test file's sketch, in more
                      // blocks than it can name
};

// What the program knows of a stop beyond the system's error, and says in its own words.
enum class StopDetail : uint8_t {
  None,
  FileChangedWhileRead,  // a read met the file's end before the size taken at the start
};

struct CheckRefusal {
  CheckFinding finding = CheckFinding::None;
  uint64_t testLength = 0;
  uint64_t recordedSize = 0;
  uint64_t brokenSize = 0;
  uint64_t block = 0;
  uint64_t first = 0;
  uint64_t last = 0;
};

struct Outcome {
  // Made by default, an outcome is done: a stop always says where and why.
  Ending ending = Ending::Done;

  // Stopped (and CheckRefused with CheckFinding::None): where, and the system's error code of
  // the call that failed, as it left it; 0 for a condition the program found itself. Done
  // with outputMayNotSurvivePowerCut: the code of the failed flush.
  Step step = Step::OpenBroken;
  uint32_t systemError = 0;
  // Stopped because another program holds the file: that program's name (UTF-8), where the
  // system could tell.
  std::string holder;
  StopDetail detail = StopDetail::None;
  CheckRefusal check;

  // Done: the file a scan wrote and its size in bytes.
  std::string outputPath;
  uint64_t outputBytes = 0;
  // Done (valid-file scan, repair): the valid size S and the blocks carried or put in place,
  // in the repair file's order.
  uint64_t validSize = 0;
  std::vector<uint32_t> blocks;
  // Valid-file scan: the broken file's size its test file records, which with the blocks
  // carried says how much of the file differs.
  uint64_t recordedSize = 0;
  // Repair: the carried blocks that were not yet in place and were written; none when every
  // one already was (a repair file applied before).
  uint64_t blocksWritten = 0;

  // Done (a scan): the output has replaced any older file of its name, but the flush of its
  // folder failed (systemError says why), so a power cut may still lose the new file.
  bool outputMayNotSurvivePowerCut = false;
  // Valid-file scan: the fingerprint written (its whole-file hash); repair and verification:
  // the one the file was compared with.
  bool fingerprinted = false;
  Hash128 fingerprint;
  // Repair and verification: the comparison with the fingerprint, and for Differs the byte
  // ranges (whole regions, neighbours merged) that still differ.
  Verification verification = Verification::NoFingerprint;
  std::vector<ByteRange> differing;
  // Differs after a repair: the follow-up test file written for the regions that differ.
  std::string followUpPath;
  uint64_t followUpBytes = 0;

  // Whether the repair wrote to the broken file (its blocks or its length): for a stop
  // (Cancelled, or Stopped after the first write) a partly repaired file, which the same
  // repair file finishes; for any other ending, whether the file is not as it was.
  bool brokenFileChanged = false;
};

Outcome DoneOutcome();
Outcome IdenticalOutcome();
Outcome StoppedOutcome(Step step, uint32_t systemError);
Outcome CancelledOutcome(bool brokenFileChanged);

// A repair whose every carried block was in place already: applied before, or (with the
// fingerprint holding) nothing left to do.
bool AppliedBefore(const Outcome& outcome);
