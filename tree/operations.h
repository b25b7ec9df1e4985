// The three operations on whole folders: the test file of a folder, its repair file, and the
// repair of the folder, over the streaming operations' pieces (checksums, fingerprints,
// outputs renamed over their final names once complete). Memory grows only with the number
// of entries. Nothing is ever written outside the broken folder, and no link is followed.
#pragma once

#include "core/asking_repair_file.h"
#include "stream/operations.h"
#include "tree/outcome.h"

// Writes the folder test file NAME.crc (NAME: the folder's own name) into outputFolder: the plain
// form, or the compact one (core/compact_folder_file.h) where choice asks for it, as for a single
// file; the plain form too where two entries share a key (names that differ only in case).
TreeOutcome ScanBrokenFolder(const char* brokenFolderPath, const char* outputFolder, const StreamControl& control,
                             const TestFileChoice& choice = {});

// The answer to a folder's asking repair file: the larger test file it asks for, written into
// outputFolder from the same read that makes the compact test file it answers again (MoreNeeded);
// OtherFile (TestFileDiffers) when the folder no longer gives that file.
TreeOutcome AnswerFolderRequest(const char* brokenFolderPath, const AskingRepairFile& asked, const char* outputFolder,
                                const StreamControl& control);

// Compares the valid folder with a folder test file and writes the folder repair file
// NAME.fix into outputFolder; identical folders write nothing, unless prove asks for a repair
// file that carries, for every file that agrees, its size and fingerprint without blocks (the
// repair reads each back against it).
TreeOutcome ScanValidFolder(const char* validFolderPath, const char* testFilePath, const char* outputFolder,
                            const StreamControl& control, bool prove = false);

struct FolderRepairOptions {
  bool deleteExtra = false;  // delete the files and empty folders only the broken folder has
  // Where the folder follow-up test file goes when files still differ; null: beside the broken
  // folder.
  const char* followUpFolder = nullptr;
  // Given a request for a larger test file: the largest it may be (0: as asked).
  uint64_t budget = 0;
};

// Checks the whole repair file, every name included, before anything is written; then puts
// the folder right. Running it again finishes a repair cut short. Files that still differ from
// their fingerprints are named in a folder follow-up test file (outcome.followUpPath).
TreeOutcome RepairBrokenFolder(const char* brokenFolderPath, const char* repairFilePath, const FolderRepairOptions& options,
                               const StreamControl& control);
