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

// A temporary made without a name (O_TMPFILE), until it is linked under one.
void MarkUnnamed(FileHandle file, bool unnamed);
bool IsUnnamed(FileHandle file);

// Makes a temporary in the folder that folderFd names with folder ("." for the folder itself, or
// a path from the current folder with AT_FDCWD): without a name where the file system allows,
// otherwise under a name composed from the first prefixLength bytes of prefix and put in name
// (capacity bytes), then held under an exclusive lock. The name of an unnamed one is composed
// too, for its naming later. mode: the permission bits asked for, less what the umask takes.
FileHandle MakeTemporary(int folderFd, const char* folder, const char* prefix, uint32_t prefixLength, unsigned mode,
                         char* name, uint32_t capacity);
// Gives an unnamed temporary of the folder its name (a new one when it is taken).
int LinkTemporary(FileHandle file, int folderFd, const char* prefix, uint32_t prefixLength, char* name, uint32_t capacity);
