// The paths of one run of varnell-cli: its operands as the operations take them, and the path
// an error line names for a reason (cli/reasons.h), outputs that were never made included.
#pragma once

#include <string>

#include "cli/arguments.h"
#include "cli/reasons.h"

struct RunPaths {
  Command command = Command::Help;
  bool folder = false;      // the first operand names a folder
  std::string input;        // the broken or valid file or folder
  std::string testFile;     // scan-valid's, or repair's --check; empty when none
  std::string repairFile;   // repair's and verify's
  std::string outputFolder;    // the scans'
  std::string followUpFolder;  // repair --follow-up; empty when not given
};

// The operands of a request in the operations' form: on Windows with '\' for '/'; a folder
// (the output folder, the follow-up folder, a folder given as the input) without separators at
// its end, so that "out/" gives out/disk.crc; a root keeps its own ("/", "C:\").
RunPaths PathsOf(const CliRequest& request);

// The path a reason concerns: an entry of a folder below the folder (at is the entry's path in
// the folder, '/' between its names; empty for the folder itself), and an output, a follow-up
// too, under the name it has or would have had.
std::string SubjectPath(const RunPaths& paths, Subject subject, const std::string& at = std::string());

// A folder operand as PathsOf takes it (separator: the platform's, or one given for the tests).
std::string WithoutTrailingSeparators(std::string folder, char separator);
