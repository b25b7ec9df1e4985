// What the Windows backend's files and folders share: a handle opened by either becomes a
// file handle through the same checks, and temporary names draw on the same randomness.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/platform.h"

// Takes an open handle as a file handle: refused (and closed) when it is a console, a pipe,
// a socket or a folder.
FileHandle AdoptHandle(HANDLE handle);

// The unpredictable part of a temporary name, from the system's randomness; 0 with the last
// error set.
int TemporaryRandom(uint64_t* random);
