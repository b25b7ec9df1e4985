// Everything varnell-cli prints: what an operation returned, on stdout or stderr, the usage
// text, and the list of damaged blocks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/arguments.h"
#include "core/outcome.h"
#include "tree/outcome.h"

// Where the texts go from now on.
void StartCliOutput(std::FILE* out, std::FILE* err);
std::FILE* CliOut();
std::FILE* CliErr();

// printf into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One of the program's texts with its arguments (paths and numbers), written to the stream.
void Print(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The one line of a failure: "varnell-cli: PATH: what failed: reason", without ": reason" for
// a condition the program found itself (reason empty); what loses its full stop before a reason.
void PrintErrorLine(std::FILE* stream, const std::string& path, const std::string& what,
                    const std::string& reason = std::string());
// A step that stopped, as the error line of the path it concerns: the step's words, and the
// system's description of the cause (or the program's own words); then, for a file another
// program holds, what to do.
void PrintStop(std::FILE* stream, const std::string& path, const Outcome& outcome);
// The output is in place but its folder was not flushed: the error line with the system's text.
void PrintMayNotSurvivePowerCut(std::FILE* stream, const std::string& path, const Outcome& outcome);
// Why a check refused the broken file (or the test file it names), as the error line of path;
// nothing for CheckFinding::None.
void PrintCheckRefusal(std::FILE* stream, const std::string& path, const CheckRefusal& why);
std::string CheckRefusalLine(const CheckRefusal& why);
// A repair refused because the broken file is not the one its repair file was made for: the
// error line with where it shows (the size, or the first block that does not fit), then the way on.
void PrintOtherFile(std::FILE* stream, const std::string& path, const CheckRefusal& why);
// Where a file still differs from the valid file's fingerprint: the heading and the ranges.
void PrintDiffering(std::FILE* stream, const Outcome& outcome);

// One line for an entry of a folder: what happened to it, its path, and for a skipped entry
// why.
void PrintEntry(std::FILE* stream, const EntryReport& entry);
// How many files a folder's scan fetched from the cloud to read them; nothing for none.
void PrintFetched(std::FILE* stream, const TreeOutcome& result);
// The name a folder's repair file was refused for, and why.
void PrintRefusedName(std::FILE* stream, const std::string& path, NameFault fault);

void PrintUsageProblem(const char* problem);
void PrintHelp();
// COMMAND --help.
void PrintCommandHelp(Command command);

// "N: first-last" for a damaged block of a valid file of validSize bytes; the last block
// ends at the file's last byte.
void PrintDamagedBlock(std::FILE* stream, uint32_t blockNumber, uint64_t validSize);
