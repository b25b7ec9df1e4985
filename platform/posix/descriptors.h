// What the POSIX backend's files and folders share: a descriptor opened by either becomes a
// file handle through the same checks, and temporary names are counted in one place.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

// Takes an open descriptor as a file handle: refused (and closed) when it is not a regular
// file or is held by this process already; emptied first when empty is true.
FileHandle AdoptDescriptor(int fd, bool empty);

// Numbers the temporary names of this process.
extern std::atomic<uint32_t> temporaryCounter;
