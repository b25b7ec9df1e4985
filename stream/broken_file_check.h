// The guard of a repair with a check file: the broken file, through the handle the repair
// will write with, must still be the file the test file was made from (size and every block
// checksum), or nothing is written.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "stream/operations.h"
#include "stream/steps.h"

// A file the check compares (the broken file or the test file) could not be opened, measured
// or read, at step: the check did not pass, and nothing has been written.
Outcome CheckCouldNotRead(Step step);

// Reads the broken file (size bytes) and the test file at checkFilePath slice by slice
// through the two buffers (kStreamBufferBytes and 4 * kStreamBufferBlocks bytes). Done when
// they agree; otherwise CheckRefused with the reason in check, or with the step and the
// system's error when a file could not be read; Cancelled on a request to stop.
Outcome CheckBrokenFile(FileHandle brokenFile, uint64_t size, const char* checkFilePath, uint8_t* slice,
                        uint8_t* entries, Progress& progress);
