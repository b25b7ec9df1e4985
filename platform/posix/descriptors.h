// What the POSIX backend's services share: the fault switch every call asks, a descriptor
// opened for a file or in a folder becomes a file handle through the same checks, and
// temporary names draw on the same randomness.
#pragma once

#include <cstdint>

#include "platform/hooks.h"
#include "platform/platform.h"

// Counts the call; on an armed plain failure sets errno and returns 1. shortBy, where given,
// receives the bytes a short transfer leaves out.
int MustFail(Service service, uint32_t* shortBy = nullptr);

// Takes an open descriptor as a file handle: refused (and closed) when it is not a regular
// file or is held by this process already; emptied first when empty is true.
FileHandle AdoptDescriptor(int fd, bool empty);

// The unpredictable part of a temporary name, from the system's randomness; 0 with errno set.
int TemporaryRandom(uint64_t* random);
