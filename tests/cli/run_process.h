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

#ifndef _WIN32
// The same in two halves, so that the test can act on the process while it runs: its process
// id (-1 when it could not be started), and its exit status once it has ended; -1 when a signal
// ended it, which goes to signal where asked for.
long StartProcess(const ProcessRun& run);
int WaitForProcess(long process, int* signal = nullptr);

// The same with stderr on a new pseudo-terminal (errFile unused); what the terminal received
// goes to terminalText.
int RunOnTerminal(const ProcessRun& run, std::string* terminalText);
#endif
