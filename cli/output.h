// Everything varnell-cli prints: what an operation returned, on stdout or stderr, the usage
// text, and the list of damaged blocks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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

// A step that stopped, or identical copies, as the dialog's box shows it: the caption line,
// then the text (the system's description of the cause, or the program's own words).
void PrintStop(std::FILE* stream, const Outcome& outcome);
// The output is in place but its folder was not flushed: the warning, then the system's text.
void PrintMayNotSurvivePowerCut(std::FILE* stream, const Outcome& outcome);
// Why a check refused the broken file, on one line; nothing for CheckFinding::None.
void PrintCheckRefusal(std::FILE* stream, const CheckRefusal& why);
std::string CheckRefusalLine(const CheckRefusal& why);
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

// "N: first-last" for a damaged block of a valid file of validSize bytes; the last block
// ends at the file's last byte.
void PrintDamagedBlock(std::FILE* stream, uint32_t blockNumber, uint64_t validSize);
