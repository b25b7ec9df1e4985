// The POSIX temporaries a folder's services make and name too (platform/posix/folders.cpp).
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Makes a temporary in the folder that folderFd names with folder ("." for the folder itself, or
// a path from the current folder with AT_FDCWD): without a name where the file system allows,
// otherwise under a name composed from the first prefixLength bytes of prefix and put in name
// (capacity bytes), then held under an exclusive lock. The name of an unnamed one is composed
// too, for its naming later. mode: the permission bits asked for, less what the umask takes.
SystemError MakeTemporary(int folderFd, const char* folder, const char* prefix, uint32_t prefixLength, unsigned mode,
                          HeldFileWaits* waits, char* name, uint32_t capacity, File* file);
// Gives an unnamed temporary of the folder its name (a new one when it is taken).
SystemError LinkTemporary(File* file, int folderFd, const char* prefix, uint32_t prefixLength, char* name, uint32_t capacity);
