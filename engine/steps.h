// What the three operations share in their steps: opening an input and creating an output by
// their path texts, and stopping with a message.
#pragma once

#include "platform/platform.h"

// Opens the file a path text names as an input file; null on failure, with the last error
// set (a text too long for a path buffer is refused as a name too long).
FileHandle OpenInputByPath(const char* path);

// Creates the output file named after sourcePath's stem with extension in outputFolder;
// null on failure, with the last error set (also when no such name can be composed).
FileHandle CreateOutputNamedAfter(const char* outputFolder, const char* sourcePath, const char* extension);

// Shows the failed platform call under the step's message; returns 0, the operation's result.
int StopWithSystemError(WindowHandle owner, const char* message);

// Shows a condition the logic found itself, in the program's own words; returns 0.
int StopWithMessage(WindowHandle owner, const char* text, const char* caption, unsigned type);
