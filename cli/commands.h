// varnell-cli as a function: the same run as the program, with its two streams given, so
// that tests can run it inside their own process.
#pragma once

#include <atomic>
#include <cstdio>

// The exit statuses.
inline constexpr int kExitDone = 0;
inline constexpr int kExitStopped = 1;       // the operation stopped; its message is on stderr
inline constexpr int kExitUsage = 2;         // the command line does not fit the interface
inline constexpr int kExitIdentical = 3;     // scan-valid: every checksum matches; a file's proof written
inline constexpr int kExitCheckRefused = 4;  // repair --check: refused, nothing written
inline constexpr int kExitDiffers = 5;       // a repair (of a file or of a folder's files), verify: the result still differs from the fingerprint
inline constexpr int kExitSkipped = 6;       // a folder: done, but entries were skipped
inline constexpr int kExitNotDurable = 7;    // written and in place, but its folder's flush failed
inline constexpr int kExitNoFingerprint = 8; // verify: the repair file carries no fingerprint
inline constexpr int kExitMoreNeeded = 10;  // the compact test file did not decode: a request for a larger one, or that larger one, written
inline constexpr int kExitOtherFile = 9;     // repair: made for another file, or the file changed since its test file; not written

// Runs the command that argv names (argv[0] is the program) and returns its exit status.
int RunCli(int argc, char** argv, std::FILE* out, std::FILE* err);

// Flushes both streams and gives the exit status: 1 instead of status when either could not
// be written.
int FinishCli(int status);

// Set it to make the operation under way stop between blocks (main sets it on Ctrl-C).
std::atomic<bool>* CliStopFlag();
