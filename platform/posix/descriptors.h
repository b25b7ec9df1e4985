// What the POSIX backend's services share: the fault switch every call asks, errno as a
// failure, the one encoding of a descriptor as a handle, and the rule by which a descriptor
// opened for a file, by its path or in a folder, becomes a File.
#pragma once

#include <cstdint>

#include "platform/hooks.h"
#include "platform/platform.h"

// Counts the call; the armed failure, or none. shortBy, where given, receives the bytes a short
// transfer leaves out.
SystemError Fault(Service service, uint32_t* shortBy = nullptr);

// errno as a failure; never none, even where a call failed without saying why.
SystemError Errno();
SystemError Failure(int error);

// Handles carry the descriptor plus one, so that descriptor 0 is not the null handle.
int Descriptor(const File& file);
int Descriptor(const FolderHandle& folder);
FolderHandle FolderOf(int fd, HeldFileWaits* waits);

// Takes an open descriptor as a File: refused (and closed) when it is not a regular file, or
// when the opens of the file this process already has refuse it as Windows' share modes would
// (a writer beside an open that does not share writing, or an open that does not share writing
// beside a writer): two names of one file may be open at once, and an output path that names
// one of the operation's own inputs is refused.
// size, where given, receives the file's size from the same look.
SystemError AdoptDescriptor(int fd, FileAccess access, bool sharesWriting, HeldFileWaits* waits, bool unnamed,
                            File* file, uint64_t* size = nullptr);
