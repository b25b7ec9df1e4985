// Opening an input and creating an output by their path texts, as both engines do.
#pragma once

#include "platform/platform.h"

// Opens the file a path text names as an input file; null on failure, with the last error
// set (a text too long for a path buffer is refused as a name too long).
FileHandle OpenInputByPath(const char* path);

// Creates the output file named after sourcePath's stem with extension in outputFolder;
// null on failure, with the last error set (also when no such name can be composed).
FileHandle CreateOutputNamedAfter(const char* outputFolder, const char* sourcePath, const char* extension);
