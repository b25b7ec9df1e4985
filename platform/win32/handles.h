// What the Windows backend's files and folders share: a handle opened by either becomes a
// file handle through the same checks.
#pragma once

#include <windows.h>

#include "platform/platform.h"

// Takes an open handle as a file handle: refused (and closed) when it is a console, a pipe,
// a socket or a folder.
FileHandle AdoptHandle(HANDLE handle);
