// The guard of `repair --check TEST_FILE`: the in-place rewrite goes ahead only on the very
// file the repair was made for, unchanged since its test file was made.
#pragma once

// Returns 1 when the broken file's size and every block checksum equal those recorded in the
// test file. Otherwise says on stderr what differs (the size, or the first block that
// differs), or shows why a file could not be read, and returns 0. Writes nothing.
int BrokenFileMatchesTestFile(const char* brokenFilePath, const char* testFilePath);
