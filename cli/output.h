// Everything varnell-cli prints: the engine's message boxes on stderr, the usage text, the
// one line of success on stdout and the list of damaged blocks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Where the texts go from now on; also diverts the engine's message boxes to err.
void StartCliOutput(std::FILE* out, std::FILE* err);
std::FILE* CliOut();
std::FILE* CliErr();

// Whether the box for identical contents was shown since StartCliOutput.
bool IdenticalContentsShown();

// printf into a string, and printf to one of the two streams through WriteText.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Print(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

void PrintUsageProblem(const char* problem);
void PrintHelp();

// "N: first-last" for a damaged block of a valid file of validSize bytes; the last block
// ends at the file's last byte.
void PrintDamagedBlock(std::FILE* stream, uint32_t blockNumber, uint32_t validSize);
