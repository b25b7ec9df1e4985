// Opening an input by its path text.
#pragma once

#include "platform/platform.h"

// Opens the file a path text names as an input file, for reading alone or for writing too,
// keeping waits (a text too long for a path buffer is refused as a name too long).
SystemError OpenInputByPath(const char* path, FileAccess access, HeldFileWaits* waits, File* file);
