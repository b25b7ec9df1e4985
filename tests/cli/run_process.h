// Runs a program as a process of its own, its stdout and stderr going to files.
#pragma once

#include <string>
#include <vector>

struct ProcessRun {
  std::string program;
  std::vector<std::string> arguments;
  std::string workingFolder;  // empty: the test's own
  std::string outFile;
  std::string errFile;
  // name=value pairs added to the environment (POSIX only; under Wine the test's own locale
  // already is the program's).
  std::vector<std::string> environment;
};

// The exit status, or -1 when the process could not be started or did not exit normally.
int RunProcess(const ProcessRun& run);
