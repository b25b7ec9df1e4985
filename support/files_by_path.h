// Opening an input by its path text.
#pragma once

#include "platform/platform.h"

// Opens the file a path text names as an input file; null on failure, with the last error
// set (a text too long for a path buffer is refused as a name too long).
FileHandle OpenInputByPath(const char* path);
