// varnell-cli's names for its outputs: after the input file's own name, which on Linux often
// has no dot ("disk"). The dialog keeps its own rule (support/output_path.h), which its users
// know.
#pragma once

#include "platform/platform.h"

// pathBuffer is a path buffer (kPathBufferSize bytes) holding the output folder's text,
// zero-filled behind it. On success it holds the folder (without the separators its text ends
// in), one separator, the source file's name up to its last dot (the whole name when it has
// none, or only one at its start) and extension; a dot in a folder's name never decides. The
// buffer stays unchanged, and the failure says why, when the folder text is empty or the
// source path ends in a separator (an invalid name), or when the path would be longer than a
// path may be (a name too long).
SystemError NameOutputAfterFile(char* pathBuffer, const char* sourcePath, const char* extension);

// The same with a given separator; NameOutputAfterFile uses the platform's own.
SystemError NameOutputAfterFileWith(char separator, char* pathBuffer, const char* sourcePath, const char* extension);
