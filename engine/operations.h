// The three work modes. Each returns 1 when its task is done and 0 when it stopped, by which
// time it has shown the reason in a message box owned by owner. Paths are ANSI texts of at
// most 519 characters; every file and memory region is released before the return.
#pragma once

#include "platform/platform.h"

// Writes the test file NAME.crc into outputFolder: the broken file's size and one checksum
// per block. The broken file is only read.
int ScanBrokenFile(WindowHandle owner, const char* brokenFilePath, const char* outputFolder);

// Compares the valid file with a test file and writes the repair file NAME.fix into
// outputFolder with every damaged block: its checksum differs, or the broken copy lacks a
// non-zero byte of it. Identical contents, of the same length, write nothing.
int ScanValidFile(WindowHandle owner, const char* validFilePath, const char* testFilePath, const char* outputFolder);

// Puts the repair file's blocks in place and rewrites the broken file to exactly the valid
// size, cutting a longer one.
int RepairBrokenFile(WindowHandle owner, const char* brokenFilePath, const char* repairFilePath);
