// What the POSIX backend's files and folders share: a descriptor opened by either becomes a
// file handle through the same checks, and temporary names draw on the same randomness.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Takes an open descriptor as a file handle: refused (and closed) when it is not a regular
// file or is held by this process already; emptied first when empty is true.
FileHandle AdoptDescriptor(int fd, bool empty);

// The unpredictable part of a temporary name, from the system's randomness; 0 with errno set.
int TemporaryRandom(uint64_t* random);
