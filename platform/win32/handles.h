// What the Windows backend's services share: the fault switch every call asks, a handle
// opened for a file or in a folder becomes a file handle through the same checks, and
// temporary names draw on the same randomness.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/hooks.h"
#include "platform/platform.h"

// Counts the call; on an armed plain failure sets the last error and returns 1. shortBy,
// where given, receives the bytes a short transfer leaves out.
int MustFail(Service service, DWORD* shortBy = nullptr);

// Takes an open handle as a file handle: refused (and closed) when it is a console, a pipe,
// a socket or a folder.
FileHandle AdoptHandle(HANDLE handle);

// The unpredictable part of a temporary name, from the system's randomness; 0 with the last
// error set.
int TemporaryRandom(uint64_t* random);

// A new temporary, opened with delete access, is marked for deletion when its last handle closes
// (the handle is closed and null returned when that fails); KeepTemporary clears the mark once
// the file is complete. TemporaryHasName says whether it will outlive its handle.
FileHandle MarkTemporary(HANDLE handle);
int KeepTemporary(FileHandle file);
