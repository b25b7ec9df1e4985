// Reading varnell-cli's command line into one request. Whatever does not fit the interface
// is a usage error, which the caller answers with exit status 2.
#pragma once

#include <string>

enum class Command { Help, Version, ScanBroken, ScanValid, Repair, Verify };

struct CliRequest {
  Command command = Command::Help;
  bool commandHelp = false;              // COMMAND --help (or -h): the command's usage, nothing run
  const char* paths[3] = {};             // the command's operands, in the order it takes them
  bool listOnStdout = false;             // scan-valid --list
  bool prove = false;                    // scan-valid --prove: a repair file even for identical copies
  const char* checkFile = nullptr;       // repair --check TEST_FILE
  bool noVerify = false;                 // repair --no-verify: the result is not read back
  const char* followUpFolder = nullptr;  // repair --follow-up FOLDER
  bool deleteExtra = false;              // repair --delete-extra: a folder's extra entries go
  const char* budget = nullptr;          // scan-broken, repair --budget SIZE: the compact test file's size
  bool plain = false;                    // scan-broken --plain: the plain test file, whatever its size
  bool quiet = false;                    // --quiet, -q: no progress line and nothing on success
  bool json = false;                     // --json, -j: one JSON object on stdout, the lines on stderr
};

// Returns 1 with request filled, or 0 with the reason, in the program's words, in problem.
// Options may stand anywhere after the command; "--" ends them, for paths that begin with "-".
// --help or -h among them asks for the command's usage, whatever else the line holds.
int ParseArguments(int argc, char** argv, CliRequest* request, std::string* problem);

// The bytes a --budget SIZE names: digits, or digits and K, M or G (powers of 1024). 0 for a
// text that is not one.
unsigned long long BudgetBytes(const char* text);
// The smallest budget: a compact test file has no room for a useful sketch below it.
inline constexpr unsigned long long kSmallestBudget = 4096;

// Whether --json (-j) stands among the options, for a command line that is refused.
bool JsonAsked(int argc, char** argv);
